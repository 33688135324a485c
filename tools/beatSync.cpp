// Beat grid analysis: spectral-flux onsets refined to the sample, the tempo from an autocorrelation
// comb and the onsets' phase coherence, then a least-squares fit of the grid to the on-beat onsets.
#include "tools/beatSync.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/sound/audioDecoder.h"
#include "platform/store/pathResolver.h"

namespace {

constexpr size_t frameSize = 1024;
constexpr size_t hopSize = 256;
constexpr double hopSeconds = static_cast<double>(hopSize) / syncSampleRate;
constexpr double pi = 3.14159265358979323846;
// Encoders cut the top of the spectrum; flux above this is only their noise.
constexpr double highestUsefulHz = 16000;
constexpr double lowestBrightnessHz = 50;

using Tcomplex = std::complex<double>;

// A radix-2 FFT of one size; the twiddles and the bit-reversal table are computed once.
class Tfft {
public:
    explicit Tfft(size_t size) : n(size), twiddles(size / 2), reversed(size) {
        for (size_t k = 0; k < n / 2; ++k) twiddles[k] = std::polar(1.0, -2 * pi * static_cast<double>(k) / static_cast<double>(n));
        size_t bits = 0;
        while ((size_t{1} << bits) < n) ++bits;
        for (size_t i = 0; i < n; ++i) {
            size_t r = 0;
            for (size_t b = 0; b < bits; ++b) r |= ((i >> b) & 1) << (bits - 1 - b);
            reversed[i] = r;
        }
    }

    void forward(std::vector<Tcomplex>& data) const {
        for (size_t i = 0; i < n; ++i) {
            if (i < reversed[i]) std::swap(data[i], data[reversed[i]]);
        }
        for (size_t length = 2; length <= n; length <<= 1) {
            const size_t stride = n / length;
            const size_t half = length / 2;
            for (size_t start = 0; start < n; start += length) {
                for (size_t j = 0; j < half; ++j) {
                    const Tcomplex rotated = data[start + j + half] * twiddles[j * stride];
                    data[start + j + half] = data[start + j] - rotated;
                    data[start + j] += rotated;
                }
            }
        }
    }

private:
    size_t n;
    std::vector<Tcomplex> twiddles;
    std::vector<size_t> reversed;
};

size_t nextPowerOfTwo(size_t value) {
    size_t power = 1;
    while (power < value) power <<= 1;
    return power;
}

// Per analysis frame: the positive change of the log spectrum and where in pitch it happened.
struct TfluxTrack {
    std::vector<double> flux;
    std::vector<double> brightness;
    std::vector<double> lowShare;
};

double frameStartSeconds(size_t frame) { return static_cast<double>(frame * hopSize) / syncSampleRate; }

// Octave bands from lowestBrightnessHz up; brightness weighs each band by its mean rise per bin,
// so the many high bins do not outvote the few low ones.
constexpr size_t brightnessBands = 8;
// The octave bands of kicks and bass notes (up to 200 Hz).
constexpr size_t lowBands = 2;

// Which octave band each bin belongs to, and how many bins each band has.
struct TbandLayout {
    std::vector<size_t> bandOfBin;
    std::vector<double> binsInBand;
};

TbandLayout bandLayout(size_t bins, double binHz) {
    TbandLayout layout{std::vector<size_t>(bins), std::vector<double>(brightnessBands, 0.0)};
    for (size_t b = 1; b < bins; ++b) {
        const double octave = std::log2(std::max(1.0, static_cast<double>(b) * binHz / lowestBrightnessHz));
        layout.bandOfBin[b] = std::min(brightnessBands - 1, static_cast<size_t>(octave));
        layout.binsInBand[layout.bandOfBin[b]] += 1;
    }
    return layout;
}

// Log magnitude spectra of windowed frames, two from one complex transform: one frame in the real
// part, the other in the imaginary part, told apart by the symmetry of a real signal's spectrum.
class TframeSpectra {
public:
    explicit TframeSpectra(size_t bins) : fft(frameSize), window(frameSize), buffer(frameSize), bins(bins) {
        for (size_t i = 0; i < frameSize; ++i)
            window[i] = 0.5 - 0.5 * std::cos(2 * pi * static_cast<double>(i) / frameSize);
    }

    void compute(const float* first, const float* second, std::vector<double>& firstLog,
                 std::vector<double>& secondLog) {
        for (size_t i = 0; i < frameSize; ++i) buffer[i] = Tcomplex(first[i] * window[i], second[i] * window[i]);
        fft.forward(buffer);
        for (size_t b = 1; b < bins; ++b) {
            const Tcomplex mirrored = std::conj(buffer[frameSize - b]);
            // Magnitudes without std::abs, whose overflow-safe hypot costs more than the transform.
            firstLog[b] = std::log1p(0.5 * std::sqrt(std::norm(buffer[b] + mirrored)));
            secondLog[b] = std::log1p(0.5 * std::sqrt(std::norm(buffer[b] - mirrored)));
        }
    }

private:
    Tfft fft;
    std::vector<double> window;
    std::vector<Tcomplex> buffer;
    size_t bins;
};

// The flux of one frame against the one before it, and where in pitch its rise lies.
void measureFrame(const std::vector<double>& current, const std::vector<double>& previous, const TbandLayout& layout,
                  size_t frame, TfluxTrack& track) {
    double rise = 0;
    std::vector<double> bandRise(brightnessBands, 0.0);
    for (size_t b = 1; b < current.size(); ++b) {
        const double change = current[b] - previous[b];
        if (change <= 0) continue;
        rise += change;
        bandRise[layout.bandOfBin[b]] += change;
    }
    double bandSum = 0, bandWeighted = 0, lowSum = 0;
    for (size_t band = 0; band < brightnessBands; ++band) {
        if (layout.binsInBand[band] == 0) continue;
        const double mean = bandRise[band] / layout.binsInBand[band];
        bandSum += mean;
        bandWeighted += mean * static_cast<double>(band) / (brightnessBands - 1);
        if (band < lowBands) lowSum += mean;
    }
    track.flux[frame] = frame == 0 ? 0 : rise;
    track.brightness[frame] = bandSum > 0 ? bandWeighted / bandSum : 0;
    track.lowShare[frame] = bandSum > 0 ? lowSum / bandSum : 0;
}

TfluxTrack spectralFlux(const std::vector<float>& mono) {
    TfluxTrack track;
    if (mono.size() < frameSize) return track;
    const size_t frames = (mono.size() - frameSize) / hopSize + 1;
    const double binHz = static_cast<double>(syncSampleRate) / frameSize;
    const size_t bins = std::min(frameSize / 2, static_cast<size_t>(highestUsefulHz / binHz));
    const TbandLayout layout = bandLayout(bins, binHz);
    TframeSpectra spectra(bins);
    std::vector<double> previous(bins, 0.0), current(bins, 0.0), next(bins, 0.0);
    track.flux.resize(frames);
    track.brightness.resize(frames);
    track.lowShare.resize(frames);
    for (size_t frame = 0; frame < frames; frame += 2) {
        // An odd count leaves the last frame without a partner: it is paired with itself.
        const size_t partner = std::min(frame + 1, frames - 1);
        spectra.compute(mono.data() + frame * hopSize, mono.data() + partner * hopSize, current, next);
        measureFrame(current, previous, layout, frame, track);
        if (partner != frame) measureFrame(next, current, layout, partner, track);
        std::swap(previous, partner != frame ? next : current);
    }
    return track;
}

// The flux above its neighbourhood's mean: steady textures (a pad, a riser) drop out.
std::vector<double> novelty(const std::vector<double>& flux) {
    constexpr size_t reach = 16;
    std::vector<double> prefix(flux.size() + 1, 0.0);
    for (size_t i = 0; i < flux.size(); ++i) prefix[i + 1] = prefix[i] + flux[i];
    std::vector<double> result(flux.size());
    for (size_t i = 0; i < flux.size(); ++i) {
        const size_t first = i >= reach ? i - reach : 0;
        const size_t last = std::min(flux.size(), i + reach + 1);
        const double mean = (prefix[last] - prefix[first]) / static_cast<double>(last - first);
        result[i] = std::max(0.0, flux[i] - mean);
    }
    return result;
}

double percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0;
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(share * static_cast<double>(values.size())));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(index), values.end());
    return values[index];
}

struct TpeakFrame {
    size_t frame;
    double strength;
};

std::vector<TpeakFrame> pickPeaks(const std::vector<double>& onsetCurve) {
    constexpr size_t reach = 5;
    std::vector<TpeakFrame> peaks;
    for (size_t i = 1; i + 1 < onsetCurve.size(); ++i) {
        if (onsetCurve[i] <= 0) continue;
        const size_t first = i >= reach ? i - reach : 0;
        const size_t last = std::min(onsetCurve.size(), i + reach + 1);
        bool highest = true;
        for (size_t j = first; j < last && highest; ++j) {
            highest = onsetCurve[j] < onsetCurve[i] || (onsetCurve[j] == onsetCurve[i] && j >= i);
        }
        if (highest) peaks.push_back({i, onsetCurve[i]});
    }
    std::vector<double> strengths;
    for (const TpeakFrame& peak : peaks) strengths.push_back(peak.strength);
    const double loud = percentile(strengths, 0.9);
    std::vector<TpeakFrame> kept;
    for (const TpeakFrame& peak : peaks) {
        if (peak.strength >= 0.04 * loud) kept.push_back({peak.frame, std::min(2.0, peak.strength / loud)});
    }
    return kept;
}

// Finds the attack of an onset at sample resolution: the sample where the energy of the
// high-passed signal rises most sharply (after against before, in short windows).
class TattackFinder {
public:
    explicit TattackFinder(const std::vector<float>& mono) : samples(mono) {}

    double attackSeconds(size_t frame) {
        const size_t start = frame * hopSize;
        const size_t first = std::max(start, window + hopSize + 1) - hopSize;
        const size_t last = std::min(start + frameSize, samples.size() > window ? samples.size() - window : 0);
        if (first >= last) return frameStartSeconds(frame) + 0.5 * frameSize / syncSampleRate;
        fillEnergy(first - window, last + window);
        double loudestAfter = 0;
        for (size_t n = first; n <= last; n += 16) loudestAfter = std::max(loudestAfter, after(n));
        const double floor = 0.01 * loudestAfter + 1e-12;
        size_t best = first;
        double bestRatio = -1;
        for (size_t n = first; n <= last; ++n) {
            const double ratio = (after(n) + floor) / (before(n) + floor);
            if (ratio > bestRatio) bestRatio = ratio, best = n;
        }
        const size_t foot = footOfRise(best);
        const bool slow = isSlowAttack(bestRatio, static_cast<double>(best - foot) / syncSampleRate);
        return static_cast<double>(slow ? foot : best) / syncSampleRate;
    }

private:
    static constexpr size_t window = 128;

    // Running energy of the first difference (a plain high-pass) over [from, to], kept for the
    // one onset at hand, so a long song needs no song-long table.
    void fillEnergy(size_t from, size_t to) {
        origin = from;
        energy.resize(to - from + 1);
        energy[0] = 0;
        for (size_t i = from; i < to; ++i) {
            const double difference = static_cast<double>(samples[i]) - samples[i - 1];
            energy[i - from + 1] = energy[i - from] + difference * difference;
        }
    }
    double at(size_t n) const { return energy[n - origin]; }
    double after(size_t n) const { return at(n + window) - at(n); }
    double before(size_t n) const { return at(n) - at(n - window); }

    // A slow attack (a plucked or bowed string, a pad) swells for tens of ms before its sharpest
    // rise; its note began at the foot of the swell, where the level leaves the one it held before.
    // A drum's foot lies within a few ms of its sharpest rise, which stays the more exact time.
    size_t footOfRise(size_t attack) {
        constexpr size_t reach = syncSampleRate / 10, span = syncSampleRate / 100, step = 64;
        if (attack < reach + span || attack + 3 * span >= samples.size()) return attack;
        fillLevels(attack - reach - span, attack + 3 * span);
        double top = 0, floor = 1e300;
        for (size_t n = attack; n <= attack + 2 * span; n += step) top = std::max(top, level(n, span));
        for (size_t n = attack - reach; n <= attack; n += step) floor = std::min(floor, level(n, span));
        constexpr double leastRise = 4, footShareOfRise = 0.1;
        if (floor <= 0 || top < leastRise * floor) return attack;
        const double threshold = floor * std::pow(top / floor, footShareOfRise);
        size_t foot = attack;
        while (foot - step >= attack - reach && level(foot - step, span) > threshold) foot -= step;
        return foot;
    }

    // Running energy of the signal itself over [from, to].
    void fillLevels(size_t from, size_t to) {
        levelOrigin = from;
        levels.resize(to - from + 1);
        levels[0] = 0;
        for (size_t i = from; i < to; ++i) levels[i - from + 1] = levels[i - from] + static_cast<double>(samples[i]) * samples[i];
    }
    // The energy of the span samples centred on n.
    double level(size_t n, size_t span) const { return levels[n + span / 2 - levelOrigin] - levels[n - span / 2 - levelOrigin]; }

    const std::vector<float>& samples;
    std::vector<double> energy;
    size_t origin = 0;
    std::vector<double> levels;
    size_t levelOrigin = 0;
};

std::vector<TheardOnset> findOnsets(const std::vector<float>& mono, const TfluxTrack& track,
                                    const std::vector<double>& onsetCurve) {
    const std::vector<TpeakFrame> peaks = pickPeaks(onsetCurve);
    TattackFinder finder(mono);
    std::vector<TheardOnset> onsets;
    for (const TpeakFrame& peak : peaks) {
        const TheardOnset onset{finder.attackSeconds(peak.frame), peak.strength, track.brightness[peak.frame],
                                track.lowShare[peak.frame]};
        // Two peaks of one attack land on the same sample region: keep the stronger.
        if (!onsets.empty() && onset.time - onsets.back().time < 0.02) {
            if (onset.strength > onsets.back().strength) onsets.back() = onset;
            continue;
        }
        onsets.push_back(onset);
    }
    std::sort(onsets.begin(), onsets.end(), [](const TheardOnset& a, const TheardOnset& b) { return a.time < b.time; });
    return onsets;
}

// Autocorrelation of the onset curve by FFT, for lags up to maxLag frames.
std::vector<double> autocorrelation(const std::vector<double>& curve, size_t maxLag) {
    const size_t size = nextPowerOfTwo(2 * curve.size());
    std::vector<Tcomplex> buffer(size);
    for (size_t i = 0; i < curve.size(); ++i) buffer[i] = curve[i];
    const Tfft fft(size);
    fft.forward(buffer);
    for (Tcomplex& value : buffer) value = std::norm(value);
    fft.forward(buffer);  // the power spectrum is real and even, so a forward transform inverts it
    std::vector<double> result(std::min(maxLag + 1, curve.size()));
    for (size_t lag = 0; lag < result.size(); ++lag) result[lag] = buffer[lag].real() / static_cast<double>(size);
    return result;
}

double interpolated(const std::vector<double>& values, double index) {
    const size_t below = static_cast<size_t>(index);
    if (below + 1 >= values.size()) return 0;
    const double part = index - static_cast<double>(below);
    return values[below] * (1 - part) + values[below + 1] * part;
}

// The tempo whose beat and its multiples line up best with the onset curve (coarse, ±1 %).
double coarseTempo(const std::vector<double>& onsetCurve) {
    constexpr double slowest = 40, fastest = 320;
    constexpr int multiples = 4;
    const size_t maxLag = static_cast<size_t>(multiples * 60.0 / slowest / hopSeconds) + 2;
    const std::vector<double> acf = autocorrelation(onsetCurve, maxLag);
    double bestBpm = 120, bestScore = -1;
    for (double bpm = slowest; bpm <= fastest; bpm += 0.25) {
        const double lag = 60.0 / bpm / hopSeconds;
        double score = 0;
        for (int m = 1; m <= multiples; ++m) score += interpolated(acf, m * lag);
        if (score > bestScore) bestScore = score, bestBpm = bpm;
    }
    return bestBpm;
}

// A beat period and the time of one beat.
struct Tperiod {
    double seconds;
    double phase;
};

// Wraps a time difference into (-period/2, period/2].
double wrapped(double difference, double period) { return difference - period * std::round(difference / period); }

// Resultants of the onsets' phases at the beat, the half-beat and the quarter-beat of a period.
struct Tresultants {
    Tcomplex beat = 0, half = 0, quarter = 0;
    double sum() const { return std::abs(beat) + std::abs(half) + std::abs(quarter); }
};

Tresultants resultants(const std::vector<TheardOnset>& onsets, double period) {
    Tresultants result;
    for (const TheardOnset& onset : onsets) {
        const Tcomplex turn = std::polar(1.0, 2 * pi * onset.time / period);
        const Tcomplex twice = turn * turn;
        result.beat += onset.strength * turn;
        result.half += onset.strength * twice;
        result.quarter += onset.strength * twice * twice;
    }
    return result;
}

// The period near the estimate at which the onsets line up best on beats and their halves and
// quarters: offbeat hats can cancel the beats' own resultant, not the halves' and quarters'.
double coherentPeriod(const std::vector<TheardOnset>& onsets, double estimate, double span) {
    double bestPeriod = estimate, bestSum = -1;
    const double step = estimate * estimate / (128 * std::max(span, 1.0));
    for (double period = estimate * 0.98; period <= estimate * 1.02; period += step) {
        const double sum = resultants(onsets, period).sum();
        if (sum > bestSum) bestSum = sum, bestPeriod = period;
    }
    return bestPeriod;
}

// The phase at which the most onset strength falls within a few ms of the beats. Low sounds count
// more: kicks and snares carry the beat, hats and swung eighths often sit between.
double strongestPhase(const std::vector<TheardOnset>& onsets, double period) {
    constexpr double reach = 0.020, step = 0.001;
    double bestPhase = 0, bestScore = -1;
    for (double phase = 0; phase < period; phase += step) {
        double score = 0;
        for (const TheardOnset& onset : onsets) {
            const double distance = std::fabs(wrapped(onset.time - phase, period));
            if (distance < reach) score += onset.strength * (1.2 - onset.brightness) * (1 - distance / reach);
        }
        if (score > bestScore) bestScore = score, bestPhase = phase;
    }
    return bestPhase;
}

Tperiod beatGridNear(const std::vector<TheardOnset>& onsets, double estimate, double span) {
    const double period = coherentPeriod(onsets, estimate, span);
    return {period, strongestPhase(onsets, period)};
}

// Weighted least squares of onset time against beat number, over the onsets near beats.
Tperiod fitGrid(const std::vector<TheardOnset>& onsets, Tperiod grid) {
    for (const double tolerance : {grid.seconds / 8, 0.025, 0.012}) {
        double sw = 0, sn = 0, st = 0, snn = 0, snt = 0;
        int used = 0;
        for (const TheardOnset& onset : onsets) {
            const double beat = std::round((onset.time - grid.phase) / grid.seconds);
            if (std::fabs(onset.time - grid.phase - beat * grid.seconds) > tolerance) continue;
            const double w = onset.strength;
            sw += w, sn += w * beat, st += w * onset.time, snn += w * beat * beat, snt += w * beat * onset.time;
            ++used;
        }
        const double determinant = sw * snn - sn * sn;
        if (used < 3 || std::fabs(determinant) < 1e-12) break;
        const double period = (sw * snt - sn * st) / determinant;
        // Onsets that agree this badly with the period found them; keep what was there.
        if (std::fabs(period / grid.seconds - 1) > 0.02) break;
        grid = {period, (st - period * sn) / sw};
    }
    return grid;
}

// How strongly an onset marks a beat: kicks, snares and bass count more than hats and cymbals.
// How strongly an onset marks a beat: kicks, snares and bass count more than hats, cymbals and an
// off-beat skank, whose attacks have little below 200 Hz.
double beatWeight(const TheardOnset& onset) { return onset.strength * std::sqrt(onset.lowShare); }
// How strongly an onset marks the bar: only the low part of the attack, the kick and the bass.
double lowWeight(const TheardOnset& onset) { return onset.strength * onset.lowShare; }
// How strongly an onset sounds above the bass: hats, snares, chords.
double brightWeight(const TheardOnset& onset) { return onset.strength * (1 - onset.lowShare); }

using TonsetWeight = double (*)(const TheardOnset&);

// The mean over the grid's positions (a share of a beat after each beat, every `every` beats) of
// the heaviest onset within a tolerance of the position, from the first onset to the last.
double meanAccent(const std::vector<TheardOnset>& onsets, const Tperiod& grid, double shareOfBeat, TonsetWeight weight,
                  int every = 1) {
    if (onsets.empty()) return 0;
    const double tolerance = std::min(grid.seconds / 16, 0.015);
    const double step = every * grid.seconds;
    double total = 0;
    int positions = 0;
    size_t next = 0;
    const double offset = grid.phase + shareOfBeat * grid.seconds;
    for (double n = std::ceil((onsets.front().time - offset) / step);; n += 1) {
        const double position = offset + n * step;
        if (position > onsets.back().time) break;
        while (next < onsets.size() && onsets[next].time < position - tolerance) ++next;
        double heaviest = 0;
        for (size_t i = next; i < onsets.size() && onsets[i].time <= position + tolerance; ++i)
            heaviest = std::max(heaviest, weight(onsets[i]));
        total += heaviest;
        ++positions;
    }
    return positions > 0 ? total / positions : 0;
}

// Beats fall on the strongest recurring low accent of the bar (the kick and the bass): when that
// sits between the beats, as the drop of a one-drop sits against an off-beat skank, the grid moves
// half a beat.
Tperiod onTheStrongBeat(const std::vector<TheardOnset>& onsets, Tperiod grid) {
    constexpr int beatsPerBar = 4;
    double onBeat = 0, between = 0;
    for (int eighth = 0; eighth < 2 * beatsPerBar; ++eighth) {
        const double accent = meanAccent(onsets, grid, eighth / 2.0, lowWeight, beatsPerBar);
        double& side = eighth % 2 == 0 ? onBeat : between;
        side = std::max(side, accent);
    }
    if (between > onBeat) grid.phase += grid.seconds / 2;
    return grid;
}

// A metrical level the beat could be counted at, and how likely a person taps it.
struct Tlevel {
    Tperiod grid;
    double offBeatRatio = 0;  // the off-beats' accent against the beats', 0..1
    bool skank = false;       // its off-beats are a bright chord between beats that carry the bass
    double score = 0;
};

// How likely a tempo is tapped regardless of the music: a log-normal around 120 BPM.
double tappingPrior(double bpm) {
    constexpr double centreBpm = 120, octavesWide = 1.0;
    const double octaves = std::log2(bpm / centreBpm);
    return std::exp(-octaves * octaves / (2 * octavesWide * octavesWide));
}

// How likely the off-beats of a level are beats of their own, from their accent against the beats':
// hats and eighths stay well below half of the kicks' and snares' (about 0.05..0.45), a backbeat
// on the off-beats comes near them (0.5..1).
double offBeatsAreBeats(double offBeatRatio) {
    constexpr double evenRatio = 0.48, softness = 0.05;
    return 1 / (1 + std::exp(-(offBeatRatio - evenRatio) / softness));
}

double offBeatRatio(const std::vector<TheardOnset>& onsets, const Tperiod& grid) {
    const double beats = meanAccent(onsets, grid, 0.0, beatWeight);
    if (beats <= 0) return 1;
    return std::clamp(meanAccent(onsets, grid, 0.5, beatWeight) / beats, 0.0, 1.0);
}

// The grid at a slower level, on whichever of the base beats carries the heavier accents.
Tperiod slowerGrid(const std::vector<TheardOnset>& onsets, const Tperiod& base, int factor) {
    Tperiod best{base.seconds * factor, base.phase};
    double heaviest = -1;
    for (int shift = 0; shift < factor; ++shift) {
        const Tperiod candidate{base.seconds * factor, base.phase + shift * base.seconds};
        const double accent = meanAccent(onsets, candidate, 0.0, beatWeight);
        if (accent > heaviest) heaviest = accent, best = candidate;
    }
    return best;
}

// Whether a level's off-beats are an afterbeat chord (a reggae skank) over beats that carry the kick
// and the bass: such off-beats are loud, yet no beats of their own.
bool hasSkank(const std::vector<TheardOnset>& onsets, const Tperiod& grid) {
    return looksLikeSkank(meanAccent(onsets, grid, 0.0, lowWeight), meanAccent(onsets, grid, 0.5, lowWeight),
                          meanAccent(onsets, grid, 0.0, brightWeight), meanAccent(onsets, grid, 0.5, brightWeight));
}

// Faster than this people tap every other beat (a 248 BPM count of a 124 BPM song is no beat).
constexpr double slowestTappedBpm = 40, fastestTappedBpm = 210;

// The levels from eight times slower to four times faster than the base grid, slowest first.
std::vector<Tlevel> levelLadder(const std::vector<TheardOnset>& onsets, const Tperiod& base) {
    std::vector<Tlevel> ladder;
    for (const int factor : {8, 4, 2}) ladder.push_back({slowerGrid(onsets, base, factor)});
    for (const double divisor : {1.0, 2.0, 4.0}) ladder.push_back({{base.seconds / divisor, base.phase}});
    for (Tlevel& level : ladder) {
        level.offBeatRatio = offBeatRatio(onsets, level.grid);
        level.skank = hasSkank(onsets, level.grid);
    }
    return ladder;
}

// How loud an onset is, whatever its pitch: the snare of a backbeat is the loudest hit of a bar.
double loudness(const TheardOnset& onset) { return onset.strength * onset.strength; }

// Whether a level's beats carry a backbeat (a snare on 2 and 4 over a kick on 1 and 3), from the
// loudness of its alternating beats and of its off-beats.
bool hasBackbeat(const std::vector<TheardOnset>& onsets, const Tperiod& grid) {
    const double even = meanAccent(onsets, grid, 0.0, loudness, 2);
    const double odd = meanAccent(onsets, {grid.seconds, grid.phase + grid.seconds}, 0.0, loudness, 2);
    return looksLikeBackbeat(std::max(even, odd), std::min(even, odd), meanAccent(onsets, grid, 0.5, loudness));
}

// The tappable levels, likeliest first: a level is the beat when its beats are even (the slower
// level's off-beats are beats), its own off-beats are not (unless counting them would be too
// fast to tap), and its tempo is one people tap. A backbeat settles the first two: the level
// carrying one is the beat even when syncopated kicks and bass make its off-beats heavy.
std::vector<Tlevel> metricalLevels(const std::vector<TheardOnset>& onsets, const Tperiod& base) {
    const std::vector<Tlevel> ladder = levelLadder(onsets, base);
    std::vector<Tlevel> scored;
    for (size_t i = 1; i < ladder.size(); ++i) {
        Tlevel level = ladder[i];
        const double bpm = 60.0 / level.grid.seconds;
        if (bpm < slowestTappedBpm || bpm > fastestTappedBpm) continue;
        const double beatsAreEven = ladder[i - 1].skank ? 0 : offBeatsAreBeats(ladder[i - 1].offBeatRatio);
        const double offBeatsAreNot =
            2 * bpm > fastestTappedBpm || level.skank ? 1 : 1 - offBeatsAreBeats(level.offBeatRatio);
        level.score = tappingPrior(bpm) * beatsAreEven * offBeatsAreNot;
        if (hasBackbeat(onsets, level.grid)) level.score = tappingPrior(bpm);
        scored.push_back(level);
    }
    std::sort(scored.begin(), scored.end(), [](const Tlevel& a, const Tlevel& b) { return a.score > b.score; });
    return scored;
}

// The levels' tempi with their scores as shares; the chosen level's tempo is the fitted one.
std::vector<TtempoAlternative> tempoAlternatives(const std::vector<Tlevel>& levels, const Tperiod& fitted) {
    double total = 0;
    for (const Tlevel& level : levels) total += level.score;
    std::vector<TtempoAlternative> alternatives;
    for (const Tlevel& level : levels) {
        const double ratio = levels.front().grid.seconds / level.grid.seconds;
        alternatives.push_back({ratio * 60.0 / fitted.seconds, total > 0 ? level.score / total : 0});
    }
    return alternatives;
}

// A stretch of the song, whether its music keeps a beat and how far that sits from the grid.
struct TbeatWindow {
    double start = 0;
    double end = 0;
    bool hasBeat = false;
    double shiftSeconds = 0;
    double halfBeat = 0;  // the length of its half-beats, the grid's unless it keeps a tempo of its own
};

// How the onsets of a stretch line up with half-beats of one length: the shift of those half-beats
// from the phase, and how many onsets, with what share of the stretch's strength, sit near them.
struct TwindowBeat {
    size_t near = 0;
    double share = 0;
    double shift = 0;
};

// The value below which half the weight lies, of (value, weight) pairs.
double weightedMedian(std::vector<std::pair<double, double>> values) {
    std::sort(values.begin(), values.end());
    double total = 0;
    for (const auto& value : values) total += value.second;
    double below = 0;
    for (const auto& value : values) {
        below += value.second;
        if (below >= total / 2) return value.first;
    }
    return 0;
}

using TonsetRange = std::pair<std::vector<TheardOnset>::const_iterator, std::vector<TheardOnset>::const_iterator>;

TonsetRange onsetsBetween(const std::vector<TheardOnset>& onsets, double start, double end) {
    const auto at = [&onsets](double time) {
        const auto before = [](const TheardOnset& onset, double t) { return onset.time < t; };
        return std::lower_bound(onsets.begin(), onsets.end(), time, before);
    };
    return {at(start), at(end)};
}

// The shift is found roughly from the resultant of the onsets' phases, then as the median offset of
// the onsets near it: late attacks of pads and strings move a median less than a mean.
TwindowBeat windowBeat(const TonsetRange& range, double phase, double half, double reach) {
    Tcomplex sum = 0;
    double total = 0;
    for (auto onset = range.first; onset != range.second; ++onset) {
        sum += std::polar(onset->strength, 2 * pi * (onset->time - phase) / half);
        total += onset->strength;
    }
    const double roughShift = std::arg(sum) / (2 * pi) * half;
    std::vector<std::pair<double, double>> near;
    double nearStrength = 0;
    for (auto onset = range.first; onset != range.second; ++onset) {
        const double offset = wrapped(onset->time - phase, half);
        if (std::fabs(wrapped(offset - roughShift, half)) > reach) continue;
        near.emplace_back(offset, onset->strength);
        nearStrength += onset->strength;
    }
    return {near.size(), total > 0 ? nearStrength / total : 0, near.empty() ? 0 : weightedMedian(near)};
}

// The half-beat at which a stretch keeps its beat best, from two thirds to three halves of the
// grid's: a stretch that keeps none at the grid's tempo may keep one at its own, after a change.
double localHalfBeat(const TonsetRange& range, double half, double span) {
    double best = half, bestCoherence = -1;
    const double step = half * half / (8 * span);
    for (double candidate = half * 0.66; candidate <= half * 1.52; candidate += step) {
        Tcomplex sum = 0;
        for (auto onset = range.first; onset != range.second; ++onset)
            sum += std::polar(onset->strength, 2 * pi * onset->time / candidate);
        if (std::abs(sum) > bestCoherence) bestCoherence = std::abs(sum), best = candidate;
    }
    return best;
}

// A stretch keeping no beat at the grid's tempo may keep one at its own, after a tempo change: it
// then strays by as much as its beats drift from the grid's from its middle to its ends. Searching
// many tempi finds one in any music (a triplet figure, an arpeggio in an intro), so it must keep
// that tempo clearly (70 % of its strength near the half-beats, where a recording's sections with
// a plain 3:2 figure reach 66 %), and two overlapping stretches must agree on it.
void findOwnTempi(const std::vector<TheardOnset>& onsets, const Tperiod& grid, std::vector<TbeatWindow>& windows) {
    constexpr double agreement = 0.01, leastShareAtOwnTempo = 0.7;
    const double half = grid.seconds / 2;
    const double reach = std::min(grid.seconds / 16, 0.030);
    std::vector<double> ownHalfBeat(windows.size(), 0.0);
    for (size_t i = 0; i < windows.size(); ++i) {
        if (windows[i].hasBeat) continue;
        const TonsetRange range = onsetsBetween(onsets, windows[i].start, windows[i].end);
        const double local = localHalfBeat(range, half, windows[i].end - windows[i].start);
        const TwindowBeat atOwnTempo = windowBeat(range, grid.phase, local, reach);
        const bool clear = atOwnTempo.share >= leastShareAtOwnTempo;
        if (keepsABeat(atOwnTempo.near, atOwnTempo.share) && clear) ownHalfBeat[i] = local;
    }
    const auto agree = [&ownHalfBeat](size_t a, size_t b) {
        return ownHalfBeat[a] > 0 && ownHalfBeat[b] > 0 && std::fabs(ownHalfBeat[a] / ownHalfBeat[b] - 1) <= agreement;
    };
    for (size_t i = 0; i < windows.size(); ++i) {
        if (!(i > 0 && agree(i, i - 1)) && !(i + 1 < windows.size() && agree(i, i + 1))) continue;
        windows[i].hasBeat = true;
        windows[i].halfBeat = ownHalfBeat[i];
        windows[i].shiftSeconds = std::fabs(ownHalfBeat[i] / half - 1) * (windows[i].end - windows[i].start) / 2;
    }
}

// Each stretch of sixteen beats (overlapping by half): whether its music keeps a beat, and how far
// it strays from the grid. Intros, breaks and fades without a beat do not count against the tempo.
std::vector<TbeatWindow> beatWindows(const std::vector<TheardOnset>& onsets, const Tperiod& grid) {
    constexpr double windowBeats = 16;
    const double half = grid.seconds / 2;
    const double reach = std::min(grid.seconds / 16, 0.030);
    const double span = windowBeats * grid.seconds;
    std::vector<TbeatWindow> windows;
    if (onsets.empty()) return windows;
    for (double start = onsets.front().time; start < onsets.back().time; start += span / 2) {
        const TwindowBeat atGrid = windowBeat(onsetsBetween(onsets, start, start + span), grid.phase, half, reach);
        windows.push_back({start, start + span, keepsABeat(atGrid.near, atGrid.share), atGrid.shift, half});
    }
    findOwnTempi(onsets, grid, windows);
    return windows;
}

double largestDeviation(const std::vector<TbeatWindow>& windows) {
    double largest = 0;
    for (const TbeatWindow& window : windows) {
        if (window.hasBeat) largest = std::max(largest, std::fabs(window.shiftSeconds));
    }
    return largest;
}

// A run of stretches keeping one tempo, and the grid fitted to its onsets.
struct TtempoRun {
    double start = 0;
    double end = 0;
    double halfBeat = 0;
    Tperiod grid{};
};

// Consecutive stretches with a beat whose tempi agree within 1 % make a run; a run needs two
// stretches, so one odd stretch makes no tempo change.
std::vector<TtempoRun> tempoRuns(const std::vector<TbeatWindow>& windows) {
    constexpr double agreement = 0.01;
    std::vector<TtempoRun> runs;
    std::vector<int> stretches;
    for (const TbeatWindow& window : windows) {
        if (!window.hasBeat) continue;
        if (!runs.empty() && std::fabs(window.halfBeat / runs.back().halfBeat - 1) <= agreement) {
            runs.back().end = window.end;
            ++stretches.back();
            continue;
        }
        runs.push_back({window.start, window.end, window.halfBeat, {}});
        stretches.push_back(1);
    }
    std::vector<TtempoRun> kept;
    for (size_t i = 0; i < runs.size(); ++i) {
        if (stretches[i] < 2) continue;
        const bool sameTempo = !kept.empty() && std::fabs(runs[i].halfBeat / kept.back().halfBeat - 1) <= agreement;
        if (sameTempo) kept.back().end = runs[i].end;
        else kept.push_back(runs[i]);
    }
    return kept;
}

// Runs whose tempo steps are all small, or many, are a tempo wandering, not a few changes.
bool isDrift(const std::vector<TtempoRun>& runs) {
    constexpr size_t mostChanges = 3;
    constexpr double smallestChange = 0.04;
    if (runs.size() < 2) return false;
    if (runs.size() > mostChanges + 1) return true;
    for (size_t i = 1; i < runs.size(); ++i) {
        if (std::fabs(runs[i].halfBeat / runs[i - 1].halfBeat - 1) >= smallestChange) return false;
    }
    return true;
}

std::vector<TheardOnset> onsetsWithin(const std::vector<TheardOnset>& onsets, double start, double end) {
    const TonsetRange range = onsetsBetween(onsets, start, end);
    return {range.first, range.second};
}

bool onBeat(const TheardOnset& onset, const Tperiod& grid) {
    constexpr double reach = 0.010;
    return std::fabs(wrapped(onset.time - grid.phase, grid.seconds)) <= reach;
}

// The beat of the later grid at which the music changes over: the tempo changes on a beat, so a
// beat of both grids (within 15 ms) where the runs meet. The onsets on the beats of only one of the
// grids vote: the earlier grid's before the change, the later one's after it. (Half-beats would
// not do: after a change from 150 to 100, every beat falls on a half-beat of the old tempo.)
double changeOver(const std::vector<TheardOnset>& onsets, const TtempoRun& earlier, const TtempoRun& later) {
    const double from = std::min(earlier.end, later.start) - 4 * later.grid.seconds;
    const double to = std::max(earlier.end, later.start) + 4 * later.grid.seconds;
    const TonsetRange range = onsetsBetween(onsets, from, to);
    double best = later.start, bestVotes = -1e9;
    const double period = later.grid.seconds;
    const double firstBeat = later.grid.phase + std::ceil((from - later.grid.phase) / period) * period;
    for (double beat = firstBeat; beat <= to; beat += later.grid.seconds) {
        if (std::fabs(wrapped(beat - earlier.grid.phase, earlier.grid.seconds)) > 0.015) continue;
        double votes = 0;
        for (auto onset = range.first; onset != range.second; ++onset) {
            const double side = onset->time < beat ? 1 : -1;
            votes += side * onset->strength * (onBeat(*onset, earlier.grid) - onBeat(*onset, later.grid));
        }
        if (votes > bestVotes) bestVotes = votes, best = beat;
    }
    return best;
}

// A run's own grid: the period near its tempo at which its onsets line up, the phase on its
// strongest recurring accents, fitted to its onsets.
Tperiod runGrid(const std::vector<TheardOnset>& onsets, const TtempoRun& run) {
    const std::vector<TheardOnset> within = onsetsWithin(onsets, run.start, run.end);
    if (within.size() < 8) return {2 * run.halfBeat, run.start};
    const double span = run.end - run.start;
    return fitGrid(within, onTheStrongBeat(within, fitGrid(within, beatGridNear(within, 2 * run.halfBeat, span))));
}

// The tempo map of a song whose tempo changes: one segment per run, each starting at the beat the
// music changes over on, numbered on from the segment before.
std::vector<TtempoSegment> tempoSegments(const std::vector<TheardOnset>& onsets, std::vector<TtempoRun> runs,
                                         const Tperiod& firstGrid, double firstBeat) {
    runs.front().grid = firstGrid;
    for (size_t i = 1; i < runs.size(); ++i) runs[i].grid = runGrid(onsets, runs[i]);
    std::vector<TtempoSegment> segments{{firstBeat, 60.0 / firstGrid.seconds, firstBeat, 0}};
    for (size_t i = 1; i < runs.size(); ++i) {
        const TtempoSegment& previous = segments.back();
        const double change = changeOver(onsets, runs[i - 1], runs[i]);
        const int beats = static_cast<int>(std::lround((change - previous.firstBeat) * previous.bpm / 60.0));
        if (beats <= 0) continue;
        segments.push_back({change, 60.0 / runs[i].grid.seconds, change, previous.startBeat + beats});
    }
    return segments;
}

// The stretches of the music no window with a beat covers, as they are reported.
std::vector<TbeatlessStretch> beatlessStretches(const std::vector<TbeatWindow>& windows) {
    constexpr double shortestBeatlessSeconds = 1;
    std::vector<TbeatlessStretch> stretches;
    double coveredUntil = windows.empty() ? 0 : windows.front().start;
    for (const TbeatWindow& window : windows) {
        if (!window.hasBeat) continue;
        if (window.start > coveredUntil + shortestBeatlessSeconds) stretches.push_back({coveredUntil, window.start});
        coveredUntil = std::max(coveredUntil, window.end);
    }
    if (!windows.empty() && windows.back().end > coveredUntil + shortestBeatlessSeconds)
        stretches.push_back({coveredUntil, windows.back().end});
    return stretches;
}

// The share of the onset strength that sits on sixteenths of the grid, rescaled so that onsets
// at random times give about 0.
double gridConfidence(const std::vector<TheardOnset>& onsets, const Tperiod& grid) {
    const double sixteenth = grid.seconds / 4;
    double on = 0, total = 0;
    for (const TheardOnset& onset : onsets) {
        total += onset.strength;
        if (std::fabs(wrapped(onset.time - grid.phase, sixteenth)) <= sixteenth / 8) on += onset.strength;
    }
    if (total <= 0) return 0;
    return std::clamp((on / total - 0.25) / 0.75, 0.0, 1.0);
}

// The beat at or just before the first clear onset: where the music starts.
double firstBeatTime(const std::vector<TheardOnset>& onsets, const Tperiod& grid) {
    std::vector<double> strengths;
    for (const TheardOnset& onset : onsets) strengths.push_back(onset.strength);
    const double clear = 0.1 * percentile(strengths, 0.9);
    double start = 0;
    for (const TheardOnset& onset : onsets) {
        if (onset.strength >= clear) {
            start = onset.time;
            break;
        }
    }
    double beat = grid.phase + std::ceil((start - grid.seconds / 4 - grid.phase) / grid.seconds) * grid.seconds;
    while (beat < -0.0005) beat += grid.seconds;
    return beat;
}

// How far the music strays from its segment's grid, over every segment.
double largestMappedDeviation(const std::vector<TheardOnset>& onsets, const std::vector<TtempoSegment>& segments) {
    double largest = 0;
    for (size_t i = 0; i < segments.size(); ++i) {
        const double end = i + 1 < segments.size() ? segments[i + 1].start : onsets.back().time + 1;
        const std::vector<TheardOnset> within = onsetsWithin(onsets, segments[i].start, end);
        const Tperiod grid{60.0 / segments[i].bpm, segments[i].firstBeat};
        largest = std::max(largest, largestDeviation(beatWindows(within, grid)));
    }
    return largest;
}

// Replaces a single grid by a tempo map when the song keeps one tempo for a while and then another;
// a tempo that wanders is only reported.
void followTempoChanges(const std::vector<TheardOnset>& onsets, const std::vector<TbeatWindow>& windows,
                        TbeatGrid& result) {
    const std::vector<TtempoRun> runs = tempoRuns(windows);
    result.drifting = isDrift(runs);
    if (runs.size() < 2 || result.drifting) return;
    const Tperiod firstGrid = runGrid(onsets, runs.front());
    const double firstBeat = firstBeatTime(onsets, firstGrid);
    result.segments = tempoSegments(onsets, runs, firstGrid, firstBeat);
    result.bpm = result.segments.front().bpm;
    result.firstBeat = firstBeat;
    result.mapped = result.segments.size() > 1 && isSteadyTempo(1000 * largestMappedDeviation(onsets, result.segments));
}

// The period within a tenth of `period` at which a stretch's onsets line up best, and its beat
// nearest `near`: where following a drifting beat starts, or resumes after a break.
Tperiod acquiredBeat(const std::vector<TheardOnset>& within, double period, double near, double span) {
    double best = period, bestSum = -1;
    const double step = period * period / (128 * span);
    for (double candidate = period * 0.9; candidate <= period * 1.1; candidate += step) {
        const double sum = resultants(within, candidate).sum();
        if (sum > bestSum) bestSum = sum, best = candidate;
    }
    const double phase = strongestPhase(within, best);
    return fitGrid(within, {best, phase + std::round((near - phase) / best) * best});
}

// The beat of a drifting song nearest `predicted`, and its local period, from the onsets of the
// eight beats around it. Followed from the beat before while that holds (`following`); found anew
// at the start and after a break, where the prediction stands.
Tperiod localBeat(const std::vector<TheardOnset>& onsets, const Tperiod& predicted, bool& following) {
    constexpr size_t leastOnsets = 8;
    const double period = predicted.seconds;
    const std::vector<TheardOnset> within = onsetsWithin(onsets, predicted.phase - 2 * period, predicted.phase + 6 * period);
    if (within.size() < leastOnsets) {
        following = false;
        return predicted;
    }
    if (following) {
        const Tperiod fitted = fitGrid(within, predicted);
        if (std::fabs(fitted.phase - predicted.phase) <= period / 8) return fitted;
    }
    following = true;
    return acquiredBeat(within, period, predicted.phase, 8 * period);
}

constexpr double highestMp3BitsPerSecond = 320000;

// The bytes after a leading ID3v2 tag, whose pictures can outweigh a short song's audio.
size_t audioBytes(const std::vector<uint8_t>& bytes) {
    if (bytes.size() < 10 || bytes[0] != 'I' || bytes[1] != 'D' || bytes[2] != '3') return bytes.size();
    const size_t tag = 10 + ((bytes[6] & 0x7Fu) << 21 | (bytes[7] & 0x7Fu) << 14 | (bytes[8] & 0x7Fu) << 7 | (bytes[9] & 0x7Fu));
    return tag < bytes.size() ? bytes.size() - tag : 0;
}

// Eleven set sync bits, then a version, layer, bit rate and sample rate that are not reserved values.
bool isMpegFrameHeader(const uint8_t* bytes) {
    const int version = (bytes[1] >> 3) & 3, layer = (bytes[1] >> 1) & 3;
    const int bitRate = bytes[2] >> 4, sampleRate = (bytes[2] >> 2) & 3;
    const bool synced = bytes[0] == 0xFF && (bytes[1] & 0xE0) == 0xE0;
    return synced && version != 1 && layer != 0 && bitRate != 15 && sampleRate != 3;
}

constexpr size_t mp3HeadBytes = 4;

bool beginsAsMp3(const uint8_t (&head)[mp3HeadBytes], size_t got) {
    if (got >= 3 && head[0] == 'I' && head[1] == 'D' && head[2] == '3') return true;
    return got == mp3HeadBytes && isMpegFrameHeader(head);
}

}  // namespace

std::string songFileComplaint(const std::string& path) {
    const std::string resolved = resolvePath(path);
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(resolved, error);
    if (!std::filesystem::exists(status)) return "there is no such file";
    if (!std::filesystem::is_regular_file(status)) return "it is not a regular file";
    const uintmax_t size = std::filesystem::file_size(resolved, error);
    if (error) return "cannot read it: " + error.message();
    if (size > largestSongFileBytes) {
        return "the file holds " + std::to_string(size) + " bytes; song files over 200 MiB (" +
               std::to_string(largestSongFileBytes) + " bytes) are refused";
    }
    std::ifstream file(resolved, std::ios::binary);
    if (!file) return "cannot open it";
    uint8_t head[mp3HeadBytes] = {};
    file.read(reinterpret_cast<char*>(head), sizeof head);
    const size_t got = static_cast<size_t>(file.gcount());
    if (got == 0) return "the file is empty";
    if (!beginsAsMp3(head, got)) return "not an MP3 file (it begins with neither an ID3 tag nor an MPEG audio frame)";
    return {};
}

std::string readSongFile(const std::string& path, std::vector<uint8_t>& bytes) {
    const std::string complaint = songFileComplaint(path);
    if (!complaint.empty()) return complaint;
    if (!readWholeFile(path, bytes)) return "cannot read it";
    return {};
}

double TbeatGrid::beatTime(double beat) const {
    const TtempoSegment* segment = nullptr;
    for (const TtempoSegment& candidate : segments) {
        if (beat >= candidate.startBeat) segment = &candidate;
    }
    if (segment == nullptr) return firstBeat + beat * secondsPerBeat();
    return segment->firstBeat + (beat - segment->startBeat) * 60.0 / segment->bpm;
}

bool keepsABeat(size_t onsetsNearBeats, double shareNearBeats) {
    // Onsets at random times put a quarter of their strength near the half-beats.
    constexpr size_t leastOnsetsNearBeats = 8;
    constexpr double leastShareNearBeats = 0.45;
    return onsetsNearBeats >= leastOnsetsNearBeats && shareNearBeats >= leastShareNearBeats;
}

bool looksLikeBackbeat(double louderBeats, double weakerBeats, double offBeats) {
    // Snare against kick differ by a little (a quarter to two and a half times); beats against
    // off-beat hats differ by more, which is how a count at twice the tempo shows.
    constexpr double leastContrast = 1.25, mostContrast = 2.5, aboveOffBeats = 2.0;
    return weakerBeats > 0 && louderBeats >= leastContrast * weakerBeats && louderBeats <= mostContrast * weakerBeats &&
           weakerBeats >= aboveOffBeats * offBeats;
}

bool looksLikeSkank(double beatsLow, double offBeatsLow, double beatsBright, double offBeatsBright) {
    // The chord between the beats is brighter than the beats and has next to nothing below 200 Hz;
    // the beats have clearly more there. A half-time count of a rock song fails the second: its
    // off-beats are the snare, whose body is low.
    constexpr double brighterThanBeats = 1.5, mostLowShareOfBright = 0.2, beatsLowerBy = 1.5;
    return offBeatsBright >= brighterThanBeats * beatsBright && offBeatsLow <= mostLowShareOfBright * offBeatsBright &&
           beatsLow >= beatsLowerBy * offBeatsLow;
}

bool isSlowAttack(double sharpestRise, double swellSeconds) {
    // A click of high frequencies this sudden is struck (a drum, a hammer, a pick): timed exactly
    // where it is, whatever sounded before it. Others that reach their sharpest rise within a few
    // ms of their foot need no moving either.
    constexpr double leastStruckRise = 4, fastestSlowSwellSeconds = 0.010;
    return sharpestRise < leastStruckRise && swellSeconds >= fastestSlowSwellSeconds;
}

bool isSteadyTempo(double largestDeviationMs) {
    // Half the perfect judgement window (50 ms): a player cannot tell a grid this close from the music.
    constexpr double largestSteadyDeviationMs = 25;
    return largestDeviationMs <= largestSteadyDeviationMs;
}

double TsongAudio::seconds() const { return static_cast<double>(mono.size()) / syncSampleRate; }

std::string decodeSongAudio(std::vector<uint8_t> bytes, TsongAudio& audio) {
    if (bytes.empty()) return "the file is empty";
    const double shortestPlausibleSeconds = static_cast<double>(audioBytes(bytes)) * 8 / highestMp3BitsPerSecond;
    TmpegDecoder decoder(std::move(bytes));
    if (!decoder.valid()) return "not an MP3 file (no MPEG audio frame found)";
    constexpr size_t piece = 1 << 14;
    const size_t longestFrames = static_cast<size_t>(longestSongSeconds * audioRate);
    audio.stereo.clear();
    while (!decoder.atEnd()) {
        if (audio.stereo.size() / audioChannels > longestFrames) {
            char text[96];
            std::snprintf(text, sizeof text, "the song lasts over %.0f minutes; songs are shorter", longestSongSeconds / 60);
            return text;
        }
        const size_t before = audio.stereo.size();
        audio.stereo.resize(before + piece * audioChannels);
        const size_t got = decoder.read(audio.stereo.data() + before, piece);
        audio.stereo.resize(before + got * audioChannels);
    }
    const int64_t frames = static_cast<int64_t>(audio.stereo.size() / audioChannels);
    if (frames == 0) return "no audio could be decoded from the file";
    // Even at the highest bit rate the bytes would last longer: decoding stopped at damage.
    if (static_cast<double>(frames) / audioRate < shortestPlausibleSeconds / 2) {
        char text[128];
        std::snprintf(text, sizeof text, "the MP3 is broken: decoding stops after %.1f s", static_cast<double>(frames) / audioRate);
        return text;
    }
    audio.mono.resize(static_cast<size_t>(frames));
    int peak = 0;
    for (size_t i = 0; i < audio.mono.size(); ++i) {
        const int left = audio.stereo[2 * i], right = audio.stereo[2 * i + 1];
        peak = std::max({peak, std::abs(left), std::abs(right)});
        audio.mono[i] = static_cast<float>(left + right) / 65536.0f;
    }
    if (peak < 33) return "the audio is silent";
    if (audio.seconds() < shortestSongSeconds) {
        char text[128];
        std::snprintf(text, sizeof text, "the song lasts %.1f s; at least %.0f s are needed", audio.seconds(), shortestSongSeconds);
        return text;
    }
    return {};
}

std::string readSongAudio(const std::string& path, TsongAudio& audio) {
    std::vector<uint8_t> bytes;
    const std::string complaint = readSongFile(path, bytes);
    if (!complaint.empty()) return complaint;
    return decodeSongAudio(std::move(bytes), audio);
}

TsongAnalysis analyseSong(const std::vector<float>& mono) {
    TsongAnalysis analysis;
    analysis.seconds = static_cast<double>(mono.size()) / syncSampleRate;
    const TfluxTrack track = spectralFlux(mono);
    const std::vector<double> onsetCurve = novelty(track.flux);
    analysis.onsets = findOnsets(mono, track, onsetCurve);
    const std::vector<TheardOnset>& onsets = analysis.onsets;
    if (onsets.size() < 4) return analysis;
    const double estimate = 60.0 / coarseTempo(onsetCurve);
    const double span = onsets.back().time - onsets.front().time;
    const Tperiod base = onTheStrongBeat(onsets, fitGrid(onsets, beatGridNear(onsets, estimate, span)));
    const std::vector<Tlevel> levels = metricalLevels(onsets, base);
    if (levels.empty()) return analysis;
    const Tperiod grid = fitGrid(onsets, levels.front().grid);

    TbeatGrid& result = analysis.grid;
    result.bpm = 60.0 / grid.seconds;
    result.firstBeat = firstBeatTime(onsets, grid);
    const std::vector<TbeatWindow> windows = beatWindows(onsets, grid);
    result.largestDeviationMs = 1000 * largestDeviation(windows);
    result.beatless = beatlessStretches(windows);
    result.tempoStable = isSteadyTempo(result.largestDeviationMs);
    result.confidence = gridConfidence(onsets, grid);
    result.alternatives = tempoAlternatives(levels, grid);
    result.segments = {{result.firstBeat, result.bpm, result.firstBeat, 0}};
    if (!result.tempoStable) followTempoChanges(onsets, windows, result);
    return analysis;
}

TbeatGrid followDrift(const TsongAnalysis& analysis) {
    constexpr int beatsPerSegment = 4;
    TbeatGrid grid = analysis.grid;
    if (analysis.onsets.empty() || grid.bpm <= 0) return grid;
    grid.segments.clear();
    const double end = analysis.onsets.back().time + beatsPerSegment * grid.secondsPerBeat();
    // The song's grid may stray by most of a beat where the tempo has wandered from its mean: the
    // beat is found anew where the music starts.
    bool following = false;
    Tperiod beat = localBeat(analysis.onsets, {grid.secondsPerBeat(), grid.firstBeat}, following);
    beat.phase = firstBeatTime(analysis.onsets, beat);
    for (int number = 0; beat.phase < end; number += beatsPerSegment) {
        beat = localBeat(analysis.onsets, beat, following);
        grid.segments.push_back({beat.phase, 60.0 / beat.seconds, beat.phase, number});
        beat.phase += beatsPerSegment * beat.seconds;
    }
    grid.firstBeat = grid.segments.front().firstBeat;
    return grid;
}

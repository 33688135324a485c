#!/usr/bin/env python3
"""Songs with a known beat for checking the sync: MIDI written here, rendered with real instrument
samples (fluidsynth and the General MIDI SoundFont) and encoded to MP3 with lame.

  makeSyncCorpus.py --set test|bench --out FOLDER

Writes FOLDER/NAME.mp3 for every song, FOLDER/click.mp3 (one click at clickSeconds, from which the
reader measures how late the render and the encoder put a note) and FOLDER/truth.json:
  {"click_seconds": S, "songs": [{"name", "style", "kind": steady|change|drift,
    "segments": [{"start_s", "bpm", "first_beat_s"}]}]}
Times in the truth are the MIDI's, before the render's delay. The tempo is the one a person taps.
The test set and the bench set share the styles but no song: other tempi, seeds and lengths.
"""
import argparse
import json
import os
import random
import struct
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

SOUNDFONT = "/usr/share/sounds/sf2/FluidR3_GM.sf2"
TICKS = 480  # per quarter note
CLICK_SECONDS = 1.0
DRUMS = 9  # the General MIDI percussion channel

KICK, SIDE_STICK, SNARE, CLAP, CLOSED_HAT, PEDAL_HAT, OPEN_HAT, CRASH, RIDE = 36, 37, 38, 39, 42, 44, 46, 49, 51

# Chord roots (MIDI notes near C3) and qualities of a few progressions, one chord a bar.
PROGRESSIONS = [
    [(48, "maj"), (45, "min"), (41, "maj"), (43, "maj")],
    [(50, "min"), (43, "maj"), (48, "maj"), (45, "min")],
    [(45, "min"), (41, "maj"), (48, "maj"), (43, "maj")],
]
INTERVALS = {"maj": [0, 4, 7], "min": [0, 3, 7]}


class Part:
    """The notes one instrument plays, in beats."""

    def __init__(self, channel, program):
        self.channel, self.program, self.notes = channel, program, []

    def add(self, beat, note, velocity, length=0.25, jitter=0.0):
        self.notes.append((beat + jitter, note, max(1, min(127, int(velocity))), length))


class Song:
    """Parts over a tempo map; beat 0 is the first beat of the first full bar."""

    def __init__(self, name, style, rng):
        self.name, self.style, self.rng = name, style, rng
        self.parts = {}
        self.tempi = []  # (beat, bpm), sorted
        self.kind = "steady"
        self.lead_beats = 0  # beats of silence before beat 0 (room for a count-in or a pickup)

    def part(self, key, channel, program):
        if key not in self.parts:
            self.parts[key] = Part(channel, program)
        return self.parts[key]

    def drums(self):
        return self.part("drums", DRUMS, 0)

    def seconds_at(self, beat):
        """The MIDI time of a beat (beat 0 is lead_beats after the start) through the tempo map."""
        position, seconds = -self.lead_beats, 0.0
        tempi = self.tempi + [(float("inf"), None)]
        for (start, bpm), (end, _) in zip(tempi, tempi[1:]):
            start = max(start, position)
            if beat <= end:
                return seconds + (beat - start) * 60.0 / bpm
            seconds += (end - start) * 60.0 / bpm
            position = end
        raise ValueError("beat beyond the tempo map")

    def segments(self):
        """The truth: where each steady tempo starts and the beat it starts on."""
        if self.kind == "drift":
            first = self.tempi[0][1]
            return [{"start_s": 0.0, "bpm": first, "first_beat_s": self.first_beat_s}]
        result = []
        for beat, bpm in self.tempi:
            start_beat = max(beat, self.first_beat)
            result.append({"start_s": round(self.seconds_at(start_beat), 6), "bpm": bpm,
                           "first_beat_s": round(self.seconds_at(start_beat), 6)})
        return result

    @property
    def first_beat_s(self):
        return round(self.seconds_at(self.first_beat), 6)

    first_beat = 0


def chord_notes(root, quality, octave=0):
    return [root + 12 * octave + i for i in INTERVALS[quality]]


def bar_chord(progression, bar):
    return progression[bar % len(progression)]


def humanised(rng, amount_beats):
    return rng.uniform(-amount_beats, amount_beats)


# Drum patterns: one bar of (beat, note, velocity).

def rock_bar(song, bar, bars):
    drums, rng = song.drums(), song.rng
    for eighth in range(8):
        drums.add(bar * 4 + eighth / 2, CLOSED_HAT, 70 + (18 if eighth % 2 == 0 else 0) + rng.randint(-6, 6))
    for beat in (0, 2):
        drums.add(bar * 4 + beat, KICK, 112 + rng.randint(-6, 6))
    if rng.random() < 0.5:
        drums.add(bar * 4 + 2.5, KICK, 95)
    for beat in (1, 3):
        drums.add(bar * 4 + beat, SNARE, 108 + rng.randint(-6, 6))
    if bar % 8 == 0:
        drums.add(bar * 4, CRASH, 100)


def punk_bar(song, bar, bars):
    drums, rng = song.drums(), song.rng
    for beat in range(4):
        drums.add(bar * 4 + beat, CRASH if beat == 0 and bar % 4 == 0 else RIDE, 80 + rng.randint(-6, 6))
        drums.add(bar * 4 + beat, KICK if beat % 2 == 0 else SNARE, 115 + rng.randint(-5, 5))
    if rng.random() < 0.4:
        drums.add(bar * 4 + 2.5, KICK, 100)


def hiphop_bar(song, bar, bars):
    drums, rng = song.drums(), song.rng
    for sixteenth in range(16):
        accent = 20 if sixteenth % 4 == 0 else 8 if sixteenth % 2 == 0 else 0
        drums.add(bar * 4 + sixteenth / 4, CLOSED_HAT, 55 + accent + rng.randint(-5, 5))
    for beat in (0, 1.75, 2.5) if bar % 2 == 0 else (0, 2.5, 2.75):
        drums.add(bar * 4 + beat, KICK, 115 if beat == 0 else 100)
    for beat in (1, 3):
        drums.add(bar * 4 + beat, SNARE, 112 + rng.randint(-4, 4))
        drums.add(bar * 4 + beat, CLAP, 70)


def four_on_the_floor_bar(song, bar, bars):
    drums, rng = song.drums(), song.rng
    for beat in range(4):
        drums.add(bar * 4 + beat, KICK, 118)
        drums.add(bar * 4 + beat + 0.5, OPEN_HAT, 72 + rng.randint(-5, 5))
    for beat in (1, 3):
        drums.add(bar * 4 + beat, CLAP, 100 + rng.randint(-5, 5))


def breakbeat_bar(song, bar, bars):
    drums, rng = song.drums(), song.rng
    for eighth in range(8):
        drums.add(bar * 4 + eighth / 2, CLOSED_HAT, 68 + rng.randint(-8, 8))
    kicks = (0, 2.5) if bar % 2 == 0 else (0, 0.5, 2.75)
    for beat in kicks:
        drums.add(bar * 4 + beat, KICK, 115)
    for beat in (1, 3):
        drums.add(bar * 4 + beat, SNARE, 118)
    if rng.random() < 0.5:
        drums.add(bar * 4 + 3.75, SNARE, 60)  # a ghost note


def one_drop_bar(song, bar, bars):
    """Reggae: kick and rim together on the third beat only, hats on the eighths, a skank between."""
    drums, rng = song.drums(), song.rng
    for eighth in range(8):
        drums.add(bar * 4 + eighth / 2, CLOSED_HAT, 50 + rng.randint(-6, 6))
    drums.add(bar * 4 + 2, KICK, 110)
    drums.add(bar * 4 + 2, SIDE_STICK, 105)


def swing_bar(song, bar, bars):
    """Jazz ride: ding, ding-a, ding, ding-a (the 'a' a swung eighth), the hi-hat foot on 2 and 4."""
    drums, rng, swing = song.drums(), song.rng, 2 / 3
    for beat in range(4):
        drums.add(bar * 4 + beat, RIDE, 85 + (10 if beat % 2 else 0) + rng.randint(-5, 5))
        drums.add(bar * 4 + beat, KICK, 45)  # feathered
        if beat % 2 == 1:
            drums.add(bar * 4 + beat, PEDAL_HAT, 90)
            drums.add(bar * 4 + beat + swing, RIDE, 62 + rng.randint(-5, 5))


# Pitched parts over the bar's chord.

def bass_eighths(song, bar, chord, program=34):
    bass = song.part("bass", 1, program)
    for eighth in range(8):
        bass.add(bar * 4 + eighth / 2, chord[0] - 12, 95 if eighth % 2 == 0 else 80, 0.4)


def bass_on(song, bar, chord, beats, program=33, length=0.9):
    bass = song.part("bass", 1, program)
    for beat in beats:
        bass.add(bar * 4 + beat, chord[0] - 12, 100, length)


def walking_bass(song, bar, chord):
    bass = song.part("bass", 1, 32)
    tones = chord_notes(*chord)
    notes = [tones[0], tones[1], tones[2], tones[1] + 2]
    for beat in range(4):
        bass.add(bar * 4 + beat, notes[beat] - 12, 100 + song.rng.randint(-8, 8), 0.9,
                 humanised(song.rng, 0.01))


def power_chords(song, bar, chord, per_beat=2):
    guitar = song.part("guitar", 2, 30)
    for hit in range(4 * per_beat):
        for note in (chord[0], chord[0] + 7, chord[0] + 12):
            guitar.add(bar * 4 + hit / per_beat, note, 90 if hit % per_beat == 0 else 78, 0.9 / per_beat)


def keys_on(song, bar, chord, beats, program=4, velocity=75, length=1.5):
    keys = song.part("keys", 3, program)
    for beat in beats:
        for note in chord_notes(*chord, octave=1):
            keys.add(bar * 4 + beat, note, velocity, length, humanised(song.rng, 0.005))


def skank(song, bar, chord):
    guitar = song.part("guitar", 2, 27)
    organ = song.part("organ", 4, 16)
    for beat in range(4):
        for note in chord_notes(*chord, octave=1):
            guitar.add(bar * 4 + beat + 0.5, note, 100, 0.2)
            organ.add(bar * 4 + beat + 0.5, note + 12, 70, 0.2)


def piano_arpeggio(song, bar, chord):
    """Left hand on the first and third beats, the right hand in even eighths, a melody on top."""
    piano = song.part("piano", 0, 0)
    tones = chord_notes(*chord, octave=1)
    for beat in (0, 2):
        piano.add(bar * 4 + beat, chord[0] - 12, 92, 1.9)
    for eighth in range(8):
        piano.add(bar * 4 + eighth / 2, tones[eighth % 3] + (12 if eighth % 4 == 3 else 0),
                  60 + (12 if eighth % 2 == 0 else 0) + song.rng.randint(-5, 5), 0.5, humanised(song.rng, 0.008))
    for beat in (0, 1.5, 3) if bar % 2 else (0, 2):
        piano.add(bar * 4 + beat, tones[song.rng.randrange(3)] + 12, 80, 1.0)


def strings_and_pizzicato(song, bar, chord):
    strings = song.part("strings", 5, 48)
    pizzicato = song.part("pizzicato", 6, 45)
    for half in (0, 2):
        for note in chord_notes(*chord, octave=1):
            strings.add(bar * 4 + half, note, 70, 2.0)
    for beat in range(4):
        pizzicato.add(bar * 4 + beat, chord[0] - (12 if beat % 2 == 0 else 5), 100, 0.5)


def guitar_strum(song, bar, chord):
    """Acoustic strumming: down on the beats, up on the off-beats, the strings a few ms apart."""
    guitar = song.part("guitar", 2, 25)
    tones = chord_notes(*chord) + [chord[0] + 12, chord[0] + 19]
    for eighth in range(8):
        down = eighth % 2 == 0
        for i, note in enumerate(tones if down else list(reversed(tones))[:3]):
            guitar.add(bar * 4 + eighth / 2 + i * 0.012, note, (96 if down else 62) + song.rng.randint(-5, 5), 0.45)
    guitar.add(bar * 4, chord[0] - 12, 100, 1.8)
    guitar.add(bar * 4 + 2, chord[0] - 5, 95, 1.8)


STYLE_BARS = {
    "rock": lambda s, b, c, n: (rock_bar(s, b, n), bass_eighths(s, b, c), power_chords(s, b, c)),
    "punk": lambda s, b, c, n: (punk_bar(s, b, n), bass_eighths(s, b, c), power_chords(s, b, c)),
    "hiphop": lambda s, b, c, n: (hiphop_bar(s, b, n), bass_on(s, b, c, (0, 1.75, 2.5), 38, 0.6),
                                  keys_on(s, b, c, (0,), 4, 70, 3.5)),
    "house": lambda s, b, c, n: (four_on_the_floor_bar(s, b, n), bass_on(s, b, c, (0.5, 1.5, 2.5, 3.5), 38, 0.4),
                                 keys_on(s, b, c, (0,), 89, 60, 4.0)),
    "breakbeat": lambda s, b, c, n: (breakbeat_bar(s, b, n), bass_on(s, b, c, (0, 2.5), 38, 1.4),
                                     keys_on(s, b, c, (0,), 89, 55, 4.0)),
    "onedrop": lambda s, b, c, n: (one_drop_bar(s, b, n), bass_on(s, b, c, (0, 1.5, 2, 3), 33, 0.45), skank(s, b, c)),
    "swing": lambda s, b, c, n: (swing_bar(s, b, n), walking_bass(s, b, c), keys_on(s, b, c, (1 + 2 / 3, 3), 0, 62, 0.3)),
    "piano": lambda s, b, c, n: piano_arpeggio(s, b, c),
    "strings": lambda s, b, c, n: strings_and_pizzicato(s, b, c),
    "guitar": lambda s, b, c, n: guitar_strum(s, b, c),
}


def free_intro(song, beats, progression):
    """Piano chords in free time (no beat to follow) before the band comes in at beat 0."""
    piano = song.part("intro", 0, 0)
    position = -beats + 0.5
    while position < -1.5:
        root, quality = progression[song.rng.randrange(len(progression))]
        for i, note in enumerate(chord_notes(root, quality, octave=1)):
            piano.add(position + 0.04 * i, note, 70 + song.rng.randint(-10, 10), 1.5)
        position += song.rng.uniform(0.7, 2.9)


def make_song(recipe):
    """recipe: name, style, bpm, bars, seed; optional later_bpm and change_bar, drift_to, count_in, pickup,
    quiet_intro_bars (drums only after them), free_intro_beats (piano in free time before beat 0)."""
    rng = random.Random(recipe["seed"])
    song = Song(recipe["name"], recipe["style"], rng)
    bars = recipe["bars"]
    progression = PROGRESSIONS[recipe["seed"] % len(PROGRESSIONS)]
    song.lead_beats = 4 if recipe.get("count_in") or recipe.get("pickup") else 1 + recipe["seed"] % 3 * 0.37
    if recipe.get("free_intro_beats"):
        song.lead_beats = recipe["free_intro_beats"]
        free_intro(song, recipe["free_intro_beats"], progression)
    song.tempi = [(-song.lead_beats, recipe["bpm"])]
    if "later_bpm" in recipe:
        song.kind = "change"
        song.tempi.append((recipe["change_bar"] * 4, recipe["later_bpm"]))
    if "drift_to" in recipe:
        song.kind = "drift"
        for beat in range(1, bars * 4):
            song.tempi.append((beat, recipe["bpm"] + (recipe["drift_to"] - recipe["bpm"]) * beat / (bars * 4)))
    if recipe.get("count_in"):
        for beat in range(4):
            song.drums().add(beat - 4, SIDE_STICK, 110)
        song.first_beat = -4
    if recipe.get("pickup"):
        lead = song.part("lead", 7, 73 if recipe["style"] != "rock" else 29)
        for beat, note in ((-1.5, 67), (-1.0, 69), (-0.5, 71)):
            lead.add(beat, note, 96, 0.45)
    quiet = recipe.get("quiet_intro_bars", 0)
    for bar in range(bars):
        chord = bar_chord(progression, bar)
        if bar < quiet:
            keys_on(song, bar, chord, (0, 2), 0, 70, 1.9)
            continue
        STYLE_BARS[recipe["style"]](song, bar, chord, bars)
    return song


def variable_length(value):
    out = bytearray([value & 0x7F])
    value >>= 7
    while value:
        out.insert(0, 0x80 | (value & 0x7F))
        value >>= 7
    return bytes(out)


def track_chunk(events):
    """events: (tick, order, bytes); the order puts note-offs before note-ons at one tick."""
    data, now = bytearray(), 0
    for tick, _, message in sorted(events, key=lambda e: (e[0], e[1])):
        data += variable_length(tick - now) + message
        now = tick
    data += variable_length(0) + b"\xff\x2f\x00"
    return b"MTrk" + struct.pack(">I", len(data)) + data


def ticks(song, beat):
    return int(round((beat + song.lead_beats) * TICKS))


def midi_bytes(song):
    tempo_events = []
    for beat, bpm in song.tempi:
        tempo_events.append((ticks(song, max(beat, -song.lead_beats)), 0, b"\xff\x51\x03" + struct.pack(">I", int(round(6e7 / bpm)))[1:]))
    tracks = [track_chunk(tempo_events)]
    for part in song.parts.values():
        events = [(0, 0, bytes([0xC0 | part.channel, part.program]))] if part.channel != DRUMS else []
        for beat, note, velocity, length in part.notes:
            start = max(0, ticks(song, beat))
            events.append((start, 2, bytes([0x90 | part.channel, note, velocity])))
            events.append((max(start + 1, ticks(song, beat + length)), 1, bytes([0x80 | part.channel, note, 0])))
        tracks.append(track_chunk(events))
    return b"MThd" + struct.pack(">IHHH", 6, 1, len(tracks), TICKS) + b"".join(tracks)


def click_song():
    """One side-stick hit at CLICK_SECONDS and a soft held note to make the file long enough to read."""
    song = Song("click", "click", random.Random(0))
    song.tempi = [(0, 60.0)]
    song.drums().add(CLICK_SECONDS, SIDE_STICK, 120)
    song.part("pad", 0, 89).add(3.0, 48, 1, 8.0)
    return song


def render(song, folder):
    midi = os.path.join(folder, song.name + ".mid")
    wav = os.path.join(folder, song.name + ".wav")
    with open(midi, "wb") as file:
        file.write(midi_bytes(song))
    subprocess.run(["fluidsynth", "-ni", "-q", "-g", "0.5", "-r", "44100", "-T", "wav", "-F", wav, SOUNDFONT, midi],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["lame", "--quiet", "-b", "192", wav, os.path.join(folder, song.name + ".mp3")], check=True)
    os.remove(wav)
    os.remove(midi)


def recipe(name, style, bpm, bars, seed, **extra):
    return dict(name=name, style=style, bpm=bpm, bars=bars, seed=seed, **extra)


def test_set():
    """Short songs (about 20 s) over the styles, the tempi the tap level is easy to get wrong at."""
    return [
        recipe("rock120", "rock", 120, 10, 1),
        recipe("punk200", "punk", 200, 16, 2),
        recipe("hiphop70", "hiphop", 70, 6, 3),
        recipe("hiphop92", "hiphop", 92, 8, 4, pickup=True),
        recipe("house76", "house", 76, 6, 5),
        recipe("breakbeat174", "breakbeat", 174, 14, 6),
        recipe("onedrop113", "onedrop", 113.4, 10, 7),
        recipe("onedrop72", "onedrop", 72, 6, 18),
        recipe("swing150", "swing", 150, 12, 8),
        recipe("swing196", "swing", 196, 16, 9),
        recipe("piano72", "piano", 72, 6, 10),
        recipe("strings90", "strings", 90, 8, 11),
        recipe("guitar104", "guitar", 104, 9, 12, count_in=True),
        recipe("change120to132", "rock", 120, 16, 13, later_bpm=132, change_bar=8),
        recipe("change150to100", "punk", 150, 14, 14, later_bpm=100, change_bar=8),
        recipe("drift118", "rock", 118, 16, 15, drift_to=126),
        recipe("freeintro126", "rock", 126, 12, 16, free_intro_beats=18),
        recipe("quietstart100", "rock", 100, 16, 17, quiet_intro_bars=6),
    ]


def bench_set():
    """Longer songs (about 40 s) at other tempi and seeds, and one three-minute song for the timing."""
    return [
        recipe("rock134", "rock", 134, 22, 21, count_in=True),
        recipe("rock97", "rock", 97, 16, 22, quiet_intro_bars=2),
        recipe("punk186", "punk", 186, 30, 23),
        recipe("punk208", "punk", 208, 34, 24, pickup=True),
        recipe("hiphop74", "hiphop", 74, 12, 25),
        recipe("hiphop87", "hiphop", 87, 14, 26),
        recipe("house79", "house", 79, 13, 27),
        recipe("house124", "house", 124, 20, 28, quiet_intro_bars=2),
        recipe("breakbeat171", "breakbeat", 171, 28, 29),
        recipe("onedrop76", "onedrop", 76, 12, 30),
        recipe("onedrop118", "onedrop", 118, 19, 31),
        recipe("swing142", "swing", 142, 24, 32),
        recipe("swing176", "swing", 176, 28, 33),
        recipe("swing208", "swing", 208, 34, 34),
        recipe("piano66", "piano", 66, 11, 35),
        recipe("piano84", "piano", 84, 14, 36, pickup=True),
        recipe("strings78", "strings", 78, 13, 37),
        recipe("guitar112", "guitar", 112, 18, 38),
        recipe("change128to140", "house", 128, 24, 39, later_bpm=140, change_bar=12),
        recipe("change96to84", "rock", 96, 20, 40, later_bpm=84, change_bar=10),
        recipe("drift100", "rock", 100, 24, 41, drift_to=108),
        recipe("long_rock128", "rock", 128, 96, 42, quiet_intro_bars=2),
    ]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--set", choices=("test", "bench"), required=True)
    parser.add_argument("--out", required=True)
    arguments = parser.parse_args()
    os.makedirs(arguments.out, exist_ok=True)
    songs = [make_song(r) for r in (test_set() if arguments.set == "test" else bench_set())]
    with ThreadPoolExecutor(max_workers=2) as pool:
        list(pool.map(lambda s: render(s, arguments.out), songs + [click_song()]))
    truth = {"click_seconds": CLICK_SECONDS,
             "songs": [{"name": s.name, "style": s.style, "kind": s.kind, "segments": s.segments()} for s in songs]}
    with open(os.path.join(arguments.out, "truth.json"), "w") as file:
        json.dump(truth, file, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())

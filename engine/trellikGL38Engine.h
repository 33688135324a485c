// The game engine: the engine record that holds all game state, the game run and its scenes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "content/trellikMarkersLoaderCode.h"
#include "content/trellikSongDataLoader.h"
#include "content/trellikSongListLoaderCode.h"
#include "engine/assistSounds.h"
#include "engine/calibration.h"
#include "engine/jacketCache.h"
#include "engine/playJudge.h"
#include "engine/playResults.h"
#include "engine/practiceMode.h"
#include "engine/rankingSubmitter.h"
#include "engine/songWheel.h"
#include "engine/trellikScoreControl2.h"
#include "platform/input/keyEventPusher.h"
#include "platform/window/openGLClass.h"
#include "platform/store/recordsDatabase.h"

class TSVATimer;
class Tsounds;
class Tstream;
class Tsfx;

// What the launcher hands to a game run, in the order runGame takes it.
struct LaunchParameters {
    int32_t quality = 1;
    int32_t width = 600;
    int32_t height = 600;
    bool fullscreen = false;
    int32_t keys[16] = {};
    int32_t rotation = 0;
    double scale = 0.703;
    double yAdjust = 4.0;
    bool songDebug = false;
    std::string exeName;
    // The player's offsets in ms (-500..500). Audio: positive when the music is heard later than
    // the clock says, so each marker comes, is judged and leaves that much later. Visual: positive
    // draws the markers later; judgement never moves with it.
    int32_t audioOffset = 0;
    int32_t visualOffset = 0;
    // Opens the calibration scene instead of the title once loading is done.
    bool calibrate = false;
    // Keeps new offsets in the player's settings at once; empty keeps nothing.
    std::function<void(int32_t audioOffset, int32_t visualOffset)> saveOffsets;
    // The records file every play is kept in; empty keeps none.
    std::string recordsPath;
    // A kept play to play again: its song and difficulty start at once and its presses are
    // pressed again at their times.
    std::shared_ptr<const TkeptPlay> replay;
    // The player's settings file: song select keeps its search, sort and filters in it, and the
    // ranking server and the token it gave are read from and kept in it; empty keeps none.
    std::string settingsFile;
    // The music rate, practice mode and start bar song select opens with, and where song select
    // keeps them when the player changes them; empty keeps nothing.
    TpracticeChoice practice;
    std::function<void(const TpracticeChoice&)> savePractice;
    // The assist sounds as stored (0..3, see TassistMode) and their volume (0..100); a song
    // select switch keeps the new mode at once through saveAssistMode when it is set.
    int32_t assistMode = 0;
    int32_t assistVolume = loudestAssistVolume;
    std::function<void(int32_t assistMode)> saveAssistMode;
};

// The launch settings a player gets before choosing any: 600 x 600 windowed, the keys
// 4 5 6 7 / R T Y U / F G H J / V B N M, slider 33 for the scale and 4 for the height.
LaunchParameters defaultLaunchParameters(const std::string& exeName);

// Sizes and positions of everything laid out on the screen, in world units.
struct TlayoutConstants {
    double logoSize = 4.0;
    double jacketSize = 1.0;
    double jacketSizeDimmed = 0.8;
    double jacketSizeSelected = 1.2;
    double pitch = 1.4;
    double lineWidth = 0.15;
    double lineLength = 5.75;
    double markerSize = 1.3;
    double buttonSize = 1.2;
    double wheelMinX = -3.22;
    double wheelMaxX = 3.22;
    double wheelEase = 7.0;
    double shutterSize = 5.6;
    double shutterClosed = 2.52;
    double shutterOpen = 5.544;
    double comboTextX = 0.5;
    double comboTextY = -1.2;
    double comboTextWidth = 1.0;
    double comboTextHeight = 1.0;
    double digitWidth = 1.5;
    double digitHeight = 1.875;
    double comboX = 0.0;
    double comboY = 0.0;
    double digitSpacing = 1.5;
    double shutterEase = 2.0;
    uint8_t hudAlpha = 255;
    int32_t wheelRows = 3;
};

struct TpanelCentre {
    double x = 0.0;
    double y = 0.0;
};

// A marker of a panel a miss retired: a press made before its miss moment but handled after it
// (a frame or a tick ran first) is judged against it.
struct TleftMarker {
    int32_t row = -1;
    double perfectTime = 0.0;
};

// A marker the next row came on over before it was judged: it stays live, unseen, until judged or
// missed, so a panel's markers closer together than the approach are each judged or missed.
struct TwaitingMarker {
    int32_t row = 0;
    double perfectTime = 0.0;
};

// The marker state of the sixteen panels and the progress through the chart.
struct TplayState {
    uint8_t pressed[16] = {};
    // The chart row whose marker each panel shows now.
    int32_t rowOf[16] = {};
    // Every judged press and every miss of the song, in order; the results are made from it.
    std::vector<TpressRecord> presses;
    // Every key-down of the song, judged or not, as the records keep it.
    std::vector<TkeptPress> keyDowns;
    // The SHA-256 of the chart file being played.
    std::string chartSha256;
    uint8_t panelState[16] = {};
    double stateStart[16] = {};
    double stateEnd[16] = {};
    // The beat as the player hears it: the audio offset in force is part of it.
    double perfectTime[16] = {};
    // Each panel's markers retired as missed, oldest first, while a press handled late may still judge them.
    std::vector<TleftMarker> leftMarkers[16];
    // Each panel's markers replaced while live, oldest first; a press judges the oldest.
    std::vector<TwaitingMarker> waiting[16];
    uint32_t nextEntry = 0;
    bool firstEntryReached = false;
    bool musicStarted = false;
    double tempo = 0.0;
    double shutterBob = 0.0;
    double shutterBobEased = 0.0;
};

struct TmenuState {
    double wheelPosition = 0.0;
    double wheelTarget = 0.0;
    int32_t wheelScroll = 0;
    int32_t selectedSong = 0;
    int32_t selectedMarker = 0;
    // When song select came back after a song, on the high-resolution clock; 0 before any song.
    double cameAfterSongAtMs = 0.0;
};

struct FadeState {
    uint32_t start = 0;
    long double alpha = 0.0L;
    uint8_t running = 0;
};

// What the game run keeps of its launch parameters.
struct TlaunchCopies {
    std::string exeName;
    bool highQuality = false;
    int32_t keys[16] = {};
    bool songDebug = false;
    std::FILE* songDebugFile = nullptr;
    // How many timing lines the song debug file got during this song.
    uint32_t songDebugLines = 0;
    int32_t audioOffset = 0;
    int32_t visualOffset = 0;
    bool calibrate = false;
    std::function<void(int32_t audioOffset, int32_t visualOffset)> saveOffsets;
    int32_t buildNumber = 0;
    std::string recordsPath;
    std::string settingsFile;
    std::function<void(const TpracticeChoice&)> savePractice;
    std::function<void(int32_t assistMode)> saveAssistMode;
};

// The sound objects a game run plays through. The launcher owns the sound system and the one
// music stream and shares them; the two effects are made while loading. Null plays nothing.
struct TgameSounds {
    Tsounds* sounds = nullptr;
    Tstream* music = nullptr;
    Tsfx* readyGo = nullptr;
    Tsfx* goButton = nullptr;
};

// The sound objects a game run made itself: always the two effects, and the sound system and
// the music stream when nobody handed them in (a run started without the launcher).
struct TownedSounds {
    std::shared_ptr<Tsounds> sounds;
    std::shared_ptr<Tstream> music;
    std::shared_ptr<Tsfx> readyGo;
    std::shared_ptr<Tsfx> goButton;
};

// GL texture names of the stock images; 0 means nothing was loaded.
struct TstockTextures {
    uint32_t fade = 0;
    uint32_t leftArrow = 0;
    uint32_t rightArrow = 0;
    uint32_t markerSelectButton = 0;
    uint32_t goButton = 0;
    uint32_t backButton = 0;
    uint32_t logo = 0;
    uint32_t jacketBorder = 0;
    uint32_t jacketGlow = 0;
    uint32_t startHere = 0;
    uint32_t topShutter = 0;
    uint32_t bottomShutter = 0;
    uint32_t panelHighlight = 0;
    uint32_t comboLabel = 0;
    uint32_t digits[10] = {};
};

// All state of the game engine. One lives for the whole program; every engine operation takes it.
// What the results scene shows and whether its suggested offset was taken.
struct TresultsState {
    TplayResults figures;
    int32_t difficulty = 0;
    // The audio offset change the scene offers; 0 once taken or when there is none.
    int32_t suggestion = 0;
    // Whether the results scene is the one showing.
    bool shown = false;
    // What keeping the play said: "NEW BEST +12000", "REPLAY OF PLAY 12", a failure, or "".
    std::string recordLine;
    // The id the records gave the play, or 0 when it was not kept.
    int64_t keptPlayId = 0;
    // When the scene came, on the high-resolution clock.
    double shownAtMs = 0.0;
};

// The kept play being played again, and the presses of it already handed to the key pusher.
struct TreplayState {
    std::shared_ptr<const TkeptPlay> play;
    // Pushes the kept presses through the event queue, as autoplay's are; set while replaying.
    std::unique_ptr<TkeyPusher> keys;
    // The next kept press to look at for presses that judged nothing, which go by music time.
    size_t nextUnjudged = 0;
};

// Song select's best for the selected chart, looked up again only when the selection changes or
// a play was kept since.
struct TshownBest {
    int32_t song = -1;
    int32_t difficulty = -1;
    bool stale = true;
    TpersonalBest best;
};

// The ranking server of a run: its sender (null while ranking is off) and the chart whose world
// best song select shows.
struct TrankingState {
    std::unique_ptr<TrankingSubmitter> submitter;
    int32_t song = -1;
    int32_t difficulty = -1;
    std::string chartSha256;
};

// The calibration scene: the metronome's clicks, the taps, and the visual offset being set.
struct TcalibrationState {
    enum class Tphase : uint8_t { audio, visual };
    Tphase phase = Tphase::audio;
    // When each click handed to the output is heard, on the high-resolution clock (the last one
    // may still be to come), and the beat of the next one.
    std::vector<double> clickTimes;
    double nextClickHeardMs = 0.0;
    TtapCollection taps;
    TtapOutcome outcome;
    // What the scene says under its instructions.
    std::string message;
    int32_t visualOffset = 0;
    TSVATimer* metronome = nullptr;
    std::shared_ptr<Tsfx> click;
};

struct TtrellikGL {
    TSVATimer* wheelTimer = nullptr;
    TSVATimer* playTick = nullptr;
    uint32_t readyStart = 0;
    uint32_t logoStart = 0;
    double scale = 1.0;
    double depth = -7.0;
    double yOffset = 0.0;
    TlayoutConstants layout;
    TpanelCentre panels[16];
    TtimingConstants timing;
    TplayState play;
    TmenuState menu;
    FadeState fade;
    // The build line under the banner, made once at the start of loading.
    std::string versionLine;
    TlaunchCopies launch;
    TstockTextures textures;
    std::unique_ptr<TopenGLEngine> window;
    TgameSounds audio;
    TownedSounds ownedAudio;
    TmarkersControl markers;
    TsongsLoadingData songs;
    TsongParser chart;
    ScoreControl score;
    TresultsState results;
    TcalibrationState calibration;
    // Set for autoplay: presses every marker's key at its perfect time through the event queue.
    std::unique_ptr<TkeyPusher> autoplay;
    // Where plays are kept; null keeps none.
    std::unique_ptr<TrecordsDatabase> records;
    TreplayState replay;
    TshownBest shownBest;
    TrankingState ranking;
    TsongWheelState wheel;
    // A big library's jackets as the wheel shows them; null when every jacket loaded with the songs.
    std::unique_ptr<TjacketCache> jackets;
    TpracticeState practice;
    TassistSounds assist;
};

// The highest key index whose stored code equals key on the low 16 bits, or -1.
int32_t keyIndexOf(const TtrellikGL& game, int32_t key);

// Mouse and touch: the virtual key of the panel under a window point in pixels, or -1; installed
// as the window's locator, so a click or touch on a panel presses that panel's key.
struct TpanelGrid;
TpanelGrid panelGridOf(const TtrellikGL& game, int32_t windowWidth, int32_t windowHeight);
// The key of the drawn panel under a window point of the grid, or -1.
int32_t panelKeyOnGrid(const TtrellikGL& game, const TpanelGrid& grid, double x, double y);
int32_t panelKeyAtPoint(const TtrellikGL& game, double x, double y);
void installPanelPointing(TtrellikGL& game);

// The depth of every engine quad and the vertical offset of the grid for a scale and yAdjust.
double depthForScale(double scale);
double yOffsetFor(double scale, double yAdjust);

// The title of the game window for a build number.
std::string windowTitleFor(int32_t buildNumber);

// One game run: opens the window, runs the scenes until the loop ends, and returns. However the
// run ends, its timers and the window's handlers are released before it returns.
void runGame(TtrellikGL& game, const LaunchParameters& parameters);
// Stops and frees the wheel timer and the play tick and empties the window's handler slots:
// everything of the run that points at the record.
void releaseRunHandlers(TtrellikGL& game);

// A key handler of a scene: the key and when it went down or up on the high-resolution clock.
using TsceneKeyHandler = bool (*)(TtrellikGL& game, uint16_t key, double atMs);

// A scene is a set of handlers written into the window's slots; the key-up slot is left
// as it is when keyUp is empty.
struct Scene {
    bool (*draw)(TtrellikGL& game) = nullptr;
    TsceneKeyHandler keyDown = nullptr;
    TsceneKeyHandler keyUp = nullptr;
};

void installScene(TtrellikGL& game, const Scene& scene);
void installDrawHandler(TtrellikGL& game, bool (*draw)(TtrellikGL& game));
void installKeyDownHandler(TtrellikGL& game, TsceneKeyHandler keyDown);
void installKeyUpHandler(TtrellikGL& game, TsceneKeyHandler keyUp);

// The scenes of the game, in the order a run passes through them.
extern const Scene loadingScene;
extern const Scene bannerFadeScene;
extern const Scene logoFadeInScene;
extern const Scene logoHoldScene;
extern const Scene logoFadeOutScene;
extern const Scene songSelectScene;
extern const Scene markerSelectScene;
extern const Scene songStartScene;
extern const Scene readyScene;
extern const Scene playScene;

constexpr uint16_t keyEscape = 27;
constexpr uint16_t keyEnter = 13;

// The key-down handler of the first scenes: Escape ends the run.
bool escapeEndsRun(TtrellikGL& game, uint16_t key, double atMs);

// The window when it is open for drawing; null before it opens (and in tests that run none).
TopenGLEngine* drawingWindow(TtrellikGL& game);

// Chart playback and judgement, from GO to the end of the song.

// GO found a playable chart: the song debug file is reopened for appending, the music stops,
// the go sound plays and the song start scene takes the handlers.
void startSong(TtrellikGL& game);
// Puts a panel into a state that began offset ms from now, scoring it; missScored leaves it idle.
void setPanelState(TtrellikGL& game, int32_t panel, PanelState state, double offset);
// The same without scoring: the panel only shows the state.
void showPanelState(TtrellikGL& game, int32_t panel, PanelState state, double offset);
// Starts the approach of every marker of a chart row.
void activateEntry(TtrellikGL& game, uint32_t row, double offset);
// One millisecond of play: starts the music, activates the next row when due, ends the song.
void playTickHandler(TtrellikGL& game);
// Creates the play tick (1 ms, highest priority), left disabled.
void createPlayTick(TtrellikGL& game);
// The song's music opened and held at 0, the markers and score cleared, the play scene in.
void startPlay(TtrellikGL& game);
// Every panel idle with no marker, as at the start of a play.
void clearPanels(TtrellikGL& game);
bool playKeyDown(TtrellikGL& game, uint16_t key, double atMs);
bool playKeyUp(TtrellikGL& game, uint16_t key, double atMs);
// Moves every live panel whose state ended before now on to its next state.
void advancePanels(TtrellikGL& game, double now);
// Sets this frame's shutter bob from the gauge level (0..100000) and eases the shutters toward
// it. The bob follows the tempo of the last activated row and stops at an empty or full gauge
// and at a tempo of 0.
void updateShutterBob(TtrellikGL& game, int32_t gaugeLevel);
// Back to song select when the player leaves a song with Escape.
void endOfSong(TtrellikGL& game);
// The music ended: play stops and the results scene shows.
void songFinished(TtrellikGL& game);
// Song select after a song: its scene, the selected song's preview, the wheel running again.
void returnToSongSelectAfterSong(TtrellikGL& game);
// Song select again after a song, taking only the presses made from now on.
void showSongSelectAfterSong(TtrellikGL& game);
// Whether a press was made after a scene came: one made before belongs to the scene that was
// showing, whenever its queued event is handled.
bool pressedSinceSceneCame(double pressedAtMs, double sceneCameAtMs);

// The results of the song just played, from the score and the press log: the scene shown after
// every song that played to its end.
void showResults(TtrellikGL& game);
bool drawResults(TtrellikGL& game);
bool resultsKeys(TtrellikGL& game, uint16_t key, double atMs);
// The calibration scene (from --calibrate, after loading): a metronome to tap with for the audio
// offset, then a marker landing on each click for the visual offset; it leaves for the title.
void startCalibration(TtrellikGL& game);
// The metronome's click, also the count-in tick of practice.
std::vector<int16_t> metronomeClickSamples();
// One tick of the metronome: plays the click due next, so it is heard on its beat.
void metronomeTick(TtrellikGL& game);
bool drawCalibration(TtrellikGL& game);
bool calibrationKeys(TtrellikGL& game, uint16_t key, double atMs);
// The assist tick and hit sounds (engine/assistSoundsPlay.cpp).
// Loads the two samples at the volume in force, when a mode plays them and they are not loaded.
void prepareAssistSounds(TtrellikGL& game);
// Hands the tick of a freshly activated row to the output, to be heard on the row's beat.
void scheduleAssistTicks(TtrellikGL& game, uint32_t row);
// The hit sound of a press on a panel, at once.
void playHitSound(TtrellikGL& game);
// Song select's switch: the next mode, kept at once.
void switchAssistMode(TtrellikGL& game);
// The mode's line on song select.
void drawAssistLine(TtrellikGL& game);
// Song select's key for the switch (A), when no panel has it; Tab is the sort order's.
constexpr uint16_t keyAssistSwitch = 65;

// The title after loading: the logo fading in, the title keys.
void enterTitle(TtrellikGL& game);

// The records: every play kept when its results show, the best on song select, replays.

// Opens the records file of the launch, when there is one; what opening said goes to the console.
void openRecords(TtrellikGL& game, const std::string& path);
// Who presses the keys of the song being played.
TplaySource playSourceOf(const TtrellikGL& game);
// The song just finished as the records keep it.
TkeptPlay keptPlayOf(const TtrellikGL& game);
// Keeps the finished song and returns what the results say of it ("NEW BEST +1200", ...).
std::string keepPlay(TtrellikGL& game);
// What the results say of a kept play against the best before it.
std::string recordLineFor(const TkeptPlay& play, const TpersonalBest& before, int64_t id);
// The best on the selected song at the selected difficulty, looked up when the selection changed.
const TpersonalBest& selectedBest(TtrellikGL& game);
// The best score and clear mark beside the big jacket of song select; nothing when there is none.
void drawSelectedBest(TtrellikGL& game);
// Why a kept play cannot be replayed on the chart files here ("" when it can): the chart is
// missing or its bytes changed.
std::string replayRefusal(const TkeptPlay& play);
// After loading: song select with the kept play's song and difficulty, and the song started.
void startReplay(TtrellikGL& game);
// Hands the kept presses that judged a row's markers to the key pusher when the row starts.
void scheduleReplayRow(TtrellikGL& game, uint32_t row);
// Hands the kept presses that judged nothing to the key pusher as the music nears them.
void scheduleReplayUnjudged(TtrellikGL& game);
// The replay is over: its key pusher goes, later songs are the player's.
void endReplay(TtrellikGL& game);
// The ranking: the sender started after the records open when the settings name a server, each
// kept player play queued and sent in the background, its outcome on the results.
void startRanking(TtrellikGL& game);
void stopRanking(TtrellikGL& game);
// Queues the play the results just kept, when ranking is on and the player pressed its keys.
void offerForRanking(TtrellikGL& game);
// "RANK 3 OF 41", "RANKING: SENDING", ... for the play the results show, wrapped to the window's
// width; none when the play was not sent.
std::vector<std::string> rankingLines(TtrellikGL& game);
// Text broken at spaces into lines of at most width characters (a longer word is cut).
std::vector<std::string> wrappedLines(const std::string& text, size_t width);
// The server's best of the selected chart under the player's best on song select, once known.
void drawWorldBest(TtrellikGL& game);
// The audio and visual offsets play uses: a replay's own, else the player's.
int32_t audioOffsetInForce(const TtrellikGL& game);
int32_t visualOffsetInForce(const TtrellikGL& game);
// The panel key (1-based, in the player's key order) that adds the suggested audio offset.
constexpr int32_t suggestionKeyNumber = 12;
// Adds the change to the audio offset (held to -500..500) and keeps it at once.
void addToAudioOffset(TtrellikGL& game, int32_t change);
// Sets both offsets and keeps them at once.
void keepOffsets(TtrellikGL& game, int32_t audioOffset, int32_t visualOffset);
// Draws one marker frame of the selected skin on a panel (state and progress as the skin reads them).
void drawMarkerFrame(TtrellikGL& game, int32_t panel, uint8_t state, double progress);
// The window title of a judged press: its signed distance from the perfect time in whole ms.
std::string judgementTitle(double differenceMs);

// The play field, drawn by the ready and play scenes; the menus draw the masks, the grid and the
// selected jacket too. Each draws nothing while no window is open.

// The shutters, opened by the gauge and bobbing with the tempo; also sets the clear colour.
void drawShutters(TtrellikGL& game);
// The combo and its label, from a combo of 10.
void drawCombo(TtrellikGL& game);
// The start-here markers of the chart's first row and the highlights of pressed panels.
void drawReadyPanels(TtrellikGL& game);
// Per panel: the start-here marker until the first row is due, the highlight, and the marker
// frame of the selected skin for the panel's state at now.
void drawPlayPanels(TtrellikGL& game, double now);
// The marker state and progress (0..1, held there when drawn) a panel is drawn with at now,
// the visual offset applied.
struct TmarkerLook {
    uint8_t state = 0;
    double progress = 0.0;
};
TmarkerLook markerLookAt(const TtrellikGL& game, int32_t panel, double now);
// Black masks beside the grid.
void drawSideMasks(TtrellikGL& game);
// The grid lines and the bars above and below the grid.
void drawGrid(TtrellikGL& game);
// The score right-aligned above the grid.
void drawScore(TtrellikGL& game);
// A score in the score's place and digits.
void drawScoreDigits(TtrellikGL& game, int32_t value);
// Lines of console text, one under the other from (x, firstY) in console space.
void drawTextColumn(TtrellikGL& game, const std::vector<std::string>& lines, float x, float firstY);
// A flat quad of the play field in a colour (components 0..1), drawn with the fade texture.
void drawTintedQuad(TtrellikGL& game, double x, double y, double width, double height, long double red,
                    long double green, long double blue, long double alpha);
// The selected song's jacket, large, above the grid on the left.
void drawSelectedJacket(TtrellikGL& game);
// How far each shutter stands from the centre at a gauge level of 0..100000.
double shutterOpening(const TlayoutConstants& layout, int32_t gaugeLevel);

// Selects a song on the wheel and plays its preview.
void selectSong(TtrellikGL& game, int32_t index);

// Fades of 1500 ms over everything drawn before them, one step per frame; true on the frame
// after the fade reached its end.
bool fadeToBlack(TtrellikGL& game);
bool fadeFromBlack(TtrellikGL& game);

// The loading sequence and the title screens.

// The line under the banner: three blanks, letters i up to a fixed width, " v3.8.", the build
// number and " ii".
std::string makeVersionLine(int32_t buildNumber);
// How the console reports the loading time: "Time Taken: 12.3 seconds" for 12345 ms.
std::string timeTakenLine(uint32_t elapsedMs);
// The ten lines of the banner art and the frame line above and below the version line.
extern const char* const bannerLines[10];
extern const char* const bannerFrameLine;
// Draws the banner, its frame and the version line above the console lines.
void drawBanner(TtrellikGL& game);
// The key-down handler of the logo scenes: Escape ends the run, Enter or the key of key index 15
// goes to song select at once.
bool titleKeys(TtrellikGL& game, uint16_t key, double atMs);
// Song select from the title: its handlers and colour, the wheel timer and the play tick, and
// song 0 with its preview.
void enterSongSelect(TtrellikGL& game);

// Song select and marker select.

// One jacket the song wheel draws: its song and the x of its centre.
struct TwheelJacket {
    int32_t song = 0;
    double x = 0.0;
    // Its place among the songs the wheel shows, which sets its row.
    int32_t slot = 0;
};
// The jackets of the song wheel that fall inside it, the ring repeated as often as it shows.
std::vector<TwheelJacket> wheelJackets(const TtrellikGL& game);
// The jackets of the song wheel and the four buttons of the bottom row. The selected song gets
// selectedEdge, the others otherEdge.
void drawWheel(TtrellikGL& game, double selectedEdge, double otherEdge);
// One step of the wheel timer: the wheel eases a seventh of the way to its target.
void easeWheel(TtrellikGL& game);
bool songSelectKeys(TtrellikGL& game, uint16_t key, double atMs);
bool markerSelectKeys(TtrellikGL& game, uint16_t key, double atMs);
// The music a song plays on the wheel: its preview, else its song, else the menu music.
std::string previewFile(const std::string& songName);
// The chart file of a song at a difficulty (0..2), as the game names it.
std::string chartFileOf(const std::string& songName, int32_t difficulty);
// The music a song's play runs on, in the game's own path form.
std::string musicFileOf(const std::string& songName);
// The chart GO loads: the selected song at the selected difficulty.
std::string chartFileName(const TtrellikGL& game);
// GO: the chart of the selected song and difficulty loaded and the song started; a chart that
// does not load leaves song select as it is.
void startChosenSong(TtrellikGL& game);

// Jackets of a big library loaded as the wheel comes to them: read and scaled on a worker thread,
// made into textures a few a frame, and the least recently shown dropped beyond a bound.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "content/jacketImage.h"

// Textures kept at most: the wheel's columns on screen and a few either side, and the big jacket.
constexpr size_t jacketCacheCapacity = 64;
// Jackets made into textures per frame at most, so a fast scroll never stalls a frame.
constexpr int32_t jacketUploadsPerFrame = 2;
// Jackets read and waiting to be made into textures at most (about 260 KiB each).
constexpr size_t decodedLimit = 8;

// How the cache makes and drops textures; the game's are GL calls on the frame's thread.
struct TjacketTextures {
    std::function<uint32_t(const TjacketImage& image)> make;
    std::function<void(uint32_t texture)> drop;
};

// The game's texture steps: the levels uploaded as they are, glDeleteTextures.
TjacketTextures glJacketTextures();

class TjacketCache {
public:
    // With threaded false nothing is read until decodeWaiting() is called (for tests).
    TjacketCache(TjacketTextures textures, size_t capacity, bool threaded);
    ~TjacketCache();
    TjacketCache(const TjacketCache&) = delete;
    TjacketCache& operator=(const TjacketCache&) = delete;

    // The texture of a song's jacket file, or 0 while it is not ready (or cannot be read): the
    // caller shows the default jacket. The first call for a song asks the worker for it.
    uint32_t textureFor(int32_t song, const std::string& path);
    // Asks for a jacket ahead of being shown, without counting as a use.
    void prefetch(int32_t song, const std::string& path);
    // On the frame's thread: makes up to uploads textures of the jackets read, then drops the least
    // recently used beyond the capacity.
    void uploadReady(int32_t uploads);
    // Reads every jacket asked for on the calling thread (the worker does this when threaded).
    void decodeWaiting();

    size_t textureCount() const { return textures.size(); }
    // Jackets read and not yet made into textures.
    size_t decodedCount() {
        const std::lock_guard<std::mutex> guard(lock);
        return decoded.size();
    }

private:
    struct Tentry {
        uint32_t texture = 0;
        std::list<int32_t>::iterator use;
    };
    struct Trequest {
        int32_t song = 0;
        std::string path;
        // Counts up with each request: the highest was asked for last.
        uint64_t order = 0;
    };
    struct Tdecoded {
        int32_t song = 0;
        uint64_t order = 0;
        bool readable = false;
        TjacketImage image;
        // Why it cannot be read, for the debug log.
        std::string message;
    };

    static Tdecoded readJacket(const Trequest& request);
    void keepDecoded(Tdecoded&& jacket);
    void request(int32_t song, const std::string& path);
    bool takeRequest(Trequest& next, bool wait);
    // Whether another read jacket may wait; with wait, until one may (or the cache stops).
    bool roomForDecoded(bool wait);
    void work();
    void evictBeyondCapacity();

    TjacketTextures steps;
    const size_t capacity;
    std::unordered_map<int32_t, Tentry> textures;
    // Most recently used first.
    std::list<int32_t> uses;
    // Asked for and not made yet, and those that cannot be read (never asked for again).
    std::unordered_set<int32_t> pending;
    std::unordered_set<int32_t> unreadable;
    uint64_t requestsMade = 0;

    std::mutex lock;
    std::condition_variable wake;
    // Signalled when read jackets were taken, so the worker may read on.
    std::condition_variable room;
    // Newest first: the worker reads what the wheel shows now before what it showed earlier.
    std::deque<Trequest> requests;
    std::vector<Tdecoded> decoded;
    bool stopping = false;
    std::thread worker;
};

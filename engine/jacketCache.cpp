// The jacket texture cache: requests newest first, reading off the frame, least recently used out.
#include "engine/jacketCache.h"

#include <GL/gl.h>

#include <algorithm>
#include <iterator>

#include "content/textureControlCode.h"
#include "platform/window/globalConsoleCode.h"

namespace {

void deleteTexture(uint32_t texture) {
    const GLuint name = texture;
    glDeleteTextures(1, &name);
}

}  // namespace

TjacketTextures glJacketTextures() {
    return {TtextureLoader::makeJacketTexture, deleteTexture};
}

TjacketCache::TjacketCache(TjacketTextures textures, size_t capacity, bool threaded)
    : steps(std::move(textures)), capacity(capacity) {
    if (threaded) worker = std::thread([this] { work(); });
}

TjacketCache::~TjacketCache() {
    {
        const std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    wake.notify_all();
    room.notify_all();
    if (worker.joinable()) worker.join();
    // The textures go with the window's GL context; none is deleted here, where it may be gone.
}

uint32_t TjacketCache::textureFor(int32_t song, const std::string& path) {
    const auto found = textures.find(song);
    if (found != textures.end()) {
        uses.splice(uses.begin(), uses, found->second.use);
        return found->second.texture;
    }
    request(song, path);
    return 0;
}

void TjacketCache::prefetch(int32_t song, const std::string& path) {
    if (textures.count(song) == 0) request(song, path);
}

void TjacketCache::request(int32_t song, const std::string& path) {
    if (unreadable.count(song) != 0 || !pending.insert(song).second) return;
    {
        const std::lock_guard<std::mutex> guard(lock);
        requests.push_front({song, path, ++requestsMade});
        // What scrolled by long ago is not read at all; it is asked for again if it comes back.
        while (requests.size() > capacity) {
            pending.erase(requests.back().song);
            requests.pop_back();
        }
    }
    wake.notify_one();
}

bool TjacketCache::takeRequest(Trequest& next, bool wait) {
    std::unique_lock<std::mutex> guard(lock);
    if (wait) wake.wait(guard, [this] { return stopping || !requests.empty(); });
    if (stopping || requests.empty()) return false;
    next = std::move(requests.front());
    requests.pop_front();
    return true;
}

TjacketCache::Tdecoded TjacketCache::readJacket(const Trequest& request) {
    const TimageFileRead read = readImageFile(readerForPath(request.path), request.path);
    Tdecoded result{request.song, request.order, false, {}, read.message};
    if (read.decoded) result.image = prepareJacket(read.image);
    result.readable = !result.image.levels.empty();
    return result;
}

void TjacketCache::keepDecoded(Tdecoded&& jacket) {
    const std::lock_guard<std::mutex> guard(lock);
    decoded.push_back(std::move(jacket));
}

bool TjacketCache::roomForDecoded(bool wait) {
    std::unique_lock<std::mutex> guard(lock);
    if (wait) room.wait(guard, [this] { return stopping || decoded.size() < decodedLimit; });
    return !stopping && decoded.size() < decodedLimit;
}

// The worker reads no further ahead than the frames make textures: read jackets wait as whole
// mipmapped images, and a fast scroll would otherwise pile up hundreds of them.
void TjacketCache::work() {
    Trequest next;
    while (roomForDecoded(true) && takeRequest(next, true)) keepDecoded(readJacket(next));
}

void TjacketCache::decodeWaiting() {
    Trequest next;
    while (roomForDecoded(false) && takeRequest(next, false)) keepDecoded(readJacket(next));
}

void TjacketCache::uploadReady(int32_t uploads) {
    std::vector<Tdecoded> ready;
    {
        const std::lock_guard<std::mutex> guard(lock);
        // Those asked for last first: the wheel asks for the jackets on screen last.
        std::sort(decoded.begin(), decoded.end(),
                  [](const Tdecoded& left, const Tdecoded& right) { return left.order > right.order; });
        const size_t count = std::min(decoded.size(), static_cast<size_t>(std::max(uploads, 0)));
        ready.assign(std::make_move_iterator(decoded.begin()), std::make_move_iterator(decoded.begin() + count));
        decoded.erase(decoded.begin(), decoded.begin() + count);
    }
    room.notify_all();
    for (Tdecoded& jacket : ready) {
        pending.erase(jacket.song);
        // Asked for twice when it scrolled out of the requests while being read.
        if (textures.count(jacket.song) != 0) continue;
        if (!jacket.readable) {
            unreadable.insert(jacket.song);
            appendToDebugLog(jacket.message.empty() ? "A jacket could not be read." : jacket.message);
            continue;
        }
        uses.push_front(jacket.song);
        textures[jacket.song] = {steps.make(jacket.image), uses.begin()};
    }
    evictBeyondCapacity();
}

void TjacketCache::evictBeyondCapacity() {
    while (textures.size() > capacity) {
        const int32_t oldest = uses.back();
        uses.pop_back();
        steps.drop(textures[oldest].texture);
        textures.erase(oldest);
    }
}

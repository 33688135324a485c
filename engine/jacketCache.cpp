// The jacket texture cache: requests newest first, reading off the frame, least recently used out.
#include "engine/jacketCache.h"

#include <GL/gl.h>

#include <algorithm>
#include <iterator>

#include "content/textureControlCode.h"
#include "platform/window/globalConsoleCode.h"

namespace {

uint32_t uploadJacket(const TjacketImage& image) {
    const GLuint name = TtextureLoader::newBoundTexture();
    const GLenum format = image.layout == TpixelLayout::rgba ? GL_RGBA : GL_RGB;
    GLsizei side = static_cast<GLsizei>(image.side);
    for (size_t level = 0; level < image.levels.size(); ++level, side = std::max(1, side / 2))
        glTexImage2D(GL_TEXTURE_2D, static_cast<GLint>(level), static_cast<GLint>(format), side, side, 0, format,
                     GL_UNSIGNED_BYTE, image.levels[level].data());
    return name;
}

void deleteTexture(uint32_t texture) {
    const GLuint name = texture;
    glDeleteTextures(1, &name);
}

}  // namespace

TjacketTextures glJacketTextures() {
    return {uploadJacket, deleteTexture};
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
        requests.push_front({song, path});
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
    Tdecoded result{request.song, false, {}, read.message};
    if (read.decoded) result.image = prepareJacket(read.image);
    result.readable = !result.image.levels.empty();
    return result;
}

void TjacketCache::keepDecoded(Tdecoded&& jacket) {
    const std::lock_guard<std::mutex> guard(lock);
    decoded.push_back(std::move(jacket));
}

void TjacketCache::work() {
    Trequest next;
    while (takeRequest(next, true)) keepDecoded(readJacket(next));
}

void TjacketCache::decodeWaiting() {
    Trequest next;
    while (takeRequest(next, false)) keepDecoded(readJacket(next));
}

void TjacketCache::uploadReady(int32_t uploads) {
    std::vector<Tdecoded> ready;
    {
        const std::lock_guard<std::mutex> guard(lock);
        const size_t count = std::min(decoded.size(), static_cast<size_t>(std::max(uploads, 0)));
        ready.assign(std::make_move_iterator(decoded.begin()), std::make_move_iterator(decoded.begin() + count));
        decoded.erase(decoded.begin(), decoded.begin() + count);
    }
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

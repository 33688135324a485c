// The ranking server's HTTP transport on Boost.Beast: one network thread waits on every connection
// (a slow or idle client costs a socket, not a thread), and a pool of workers works out the answers.
#include "ranking/rankingServer.h"

#include <sys/socket.h>

// Boost 1.74's asio uses std::exchange without including its header.
#include <utility>

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <array>
#include <cstdint>
#include <future>
#include <limits>
#include <list>
#include <optional>
#include <stdexcept>

#include "platform/clockSeam.h"
#include "ranking/rankingConnectionGate.h"
#include "ranking/rankingHttpHead.h"
#include "ranking/rankingRoutes.h"

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using errorCode = boost::system::error_code;
using Tmessage = TrankingHttpRequest;

constexpr auto sweepInterval = std::chrono::milliseconds(250);
constexpr auto acceptPause = std::chrono::milliseconds(50);
constexpr double noDeadline = std::numeric_limits<double>::infinity();
constexpr size_t headLimitSlack = 1024;

// Bytes a connection keeps received but unparsed: the configured bound, but never less than the
// parser needs to reach its own verdict on a head.
size_t pendingLimit(const TtransportLimits& limits) {
    return std::max(limits.maxPendingBytes, limits.maxHeaderBytes + 2 * headLimitSlack);
}

// Without a connection cap per address (behind a proxy every client has the proxy's address), no
// body share per address either.
size_t bodyShareOfOneAddress(const TtransportLimits& limits) {
    return limits.maxConnectionsPerAddress == 0 ? 0 : limits.maxBodyBytesInFlightPerAddress;
}

// The peer left: nobody to answer.
bool connectionGone(const errorCode& error) {
    return error == http::error::end_of_stream || error == http::error::partial_message || error == asio::error::eof ||
           error == asio::error::operation_aborted || error == asio::error::connection_reset ||
           error == asio::error::broken_pipe || error == asio::error::bad_descriptor;
}

int readRefusal(const errorCode& error) {
    if (error == http::error::header_limit) return 431;
    if (error == http::error::body_limit) return 413;
    return 400;
}

// The client a request counts against: the one a trusted proxy names, else the connection's peer.
std::string clientAddressOf(const Tmessage& message, const std::string& peerAddress, const std::string& trustedProxy) {
    if (trustedProxy.empty() || peerAddress != trustedProxy) return peerAddress;
    const auto named = message.find("X-Real-IP");
    if (named == message.end() || named->value().empty()) return peerAddress;
    return std::string(named->value());
}

TrankingRequest requestOf(Tmessage&& message, const std::string& clientAddress) {
    return {std::string(message.method_string()), std::string(message.target()),
            std::string(message[http::field::authorization]), std::move(message.body()), clientAddress};
}

TrankingReply answerOf(TrankingService& service, const TrankingRequest& request) {
    try {
        return routeRankingRequest(service, request);
    } catch (const std::exception&) {
        return {500, R"({"error":"internal","message":"The server failed to answer; try again later."})", 0};
    }
}

// Sent to a connection over a cap, without waiting: it is closed straight after.
std::string overCapAnswer() {
    const std::string body = transportRefusal(503).body;
    return "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\nConnection: close\r\n"
           "Retry-After: 1\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

}  // namespace

class Tsession;

class TrankingServer::Timpl {
public:
    Timpl(TrankingStore& store, const TrankingLimits& limits, const TtransportLimits& transport)
        : service(store, limits),
          transport(transport),
          maxBodyBytes(limits.maxBodyBytes),
          gate(transport.maxConnections, transport.maxConnectionsPerAddress),
          bodies(transport.maxBodyBytesInFlight, bodyShareOfOneAddress(transport)),
          workers(std::max<size_t>(limits.workerThreads, 1)) {}

    double nowMs() const { return transport.clock ? transport.clock->highResolutionMs() : systemHighResolutionMs(); }
    void accept();
    void sweepSoon();
    size_t sweep();

    TrankingService service;
    const TtransportLimits transport;
    const size_t maxBodyBytes;
    const std::string overCapText = overCapAnswer();
    TconnectionGate gate;
    TbyteBudget bodies;
    asio::io_context network{1};
    asio::thread_pool workers;
    tcp::acceptor acceptor{network};
    asio::steady_timer sweepTimer{network};
    asio::steady_timer acceptTimer{network};
    // Every connection begun, touched on the network thread only.
    std::list<std::weak_ptr<Tsession>> sessions;

private:
    void admit(tcp::socket socket);
};

// One connection: requests read one after another, each within its deadline, each answer in order.
class Tsession : public std::enable_shared_from_this<Tsession> {
public:
    Tsession(tcp::socket socket, TrankingServer::Timpl& server, std::string address)
        : socket(std::move(socket)), server(server), address(std::move(address)), buffer(pendingLimit(server.transport)) {}
    ~Tsession() {
        giveBackBody();
        server.gate.release(address);
    }
    Tsession(const Tsession&) = delete;
    Tsession& operator=(const Tsession&) = delete;

    void start() {
        errorCode ignored;
        // An answer goes out in one write, but the client's next request should not wait on Nagle.
        socket.set_option(tcp::no_delay(true), ignored);
        restartDeadline();
        readHead();
    }
    bool overdue(double nowMs) const { return nowMs >= deadlineMs; }
    void close() {
        deadlineMs = noDeadline;
        errorCode ignored;
        socket.shutdown(tcp::socket::shutdown_both, ignored);
        socket.close(ignored);
    }

private:
    void restartDeadline() { deadlineMs = server.nowMs() + server.transport.requestDeadlineMs; }

    void readHead() {
        answersHead = false;
        parser.emplace();
        // The parser's own limit stops reading soon after ours; ours, counted on the whole head, decides.
        const size_t parserHeadLimit = server.transport.maxHeaderBytes + headLimitSlack;
        parser->header_limit(
            static_cast<std::uint32_t>(std::min<size_t>(parserHeadLimit, std::numeric_limits<std::uint32_t>::max())));
        parser->body_limit(static_cast<std::uint64_t>(server.maxBodyBytes));
        http::async_read_header(socket, buffer, *parser,
                                [self = shared_from_this()](errorCode error, size_t headBytes) {
                                    self->onHead(error, headBytes);
                                });
    }

    void onHead(const errorCode& error, size_t headBytes) {
        if (error) return refuseOrClose(error);
        version = parser->get().version();
        answersHead = parser->get().method() == http::verb::head;
        const int refusal = requestHeadRefusal(parser->get(), headBytes, server.transport);
        if (refusal != 0) return answer(transportRefusal(refusal), false);
        if (!takeBody()) return answer(transportRefusal(503), false);
        if (!parser->is_done() && beast::iequals(parser->get()[http::field::expect], "100-continue"))
            return sendContinue();
        readBody();
    }

    // The body's bytes from the budget, before any is read: what Content-Length tells, or the body
    // limit for a chunked body.
    bool takeBody() {
        const auto told = parser->content_length();
        const size_t bytes = parser->chunked() ? server.maxBodyBytes : static_cast<size_t>(told.value_or(0));
        if (!server.bodies.take(address, bytes)) return false;
        bodyBytesTaken = bytes;
        return true;
    }

    void giveBackBody() {
        server.bodies.giveBack(address, bodyBytesTaken);
        bodyBytesTaken = 0;
    }

    void sendContinue() {
        static constexpr char line[] = "HTTP/1.1 100 Continue\r\n\r\n";
        asio::async_write(socket, asio::buffer(line, sizeof(line) - 1),
                          [self = shared_from_this()](errorCode error, size_t) {
                              if (error) return self->close();
                              self->readBody();
                          });
    }

    void readBody() {
        http::async_read(socket, buffer, *parser,
                         [self = shared_from_this()](errorCode error, size_t) { self->onBody(error); });
    }

    void onBody(const errorCode& error) {
        if (error) return refuseOrClose(error);
        // The workers may take their time; the client is not the one keeping the connection now.
        deadlineMs = noDeadline;
        const bool keepAlive = parser->get().keep_alive() && served + 1 < server.transport.maxRequestsPerConnection;
        auto self = shared_from_this();
        const std::string client = clientAddressOf(parser->get(), address, server.transport.trustedProxy);
        asio::post(server.workers, [self, request = requestOf(parser->release(), client), keepAlive] {
            TrankingReply reply = answerOf(self->server.service, request);
            asio::post(self->socket.get_executor(), [self, reply = std::move(reply), keepAlive]() mutable {
                self->answer(std::move(reply), keepAlive);
            });
        });
    }

    void refuseOrClose(const errorCode& error) {
        if (connectionGone(error)) return close();
        answer(transportRefusal(readRefusal(error)), false);
    }

    void answer(TrankingReply reply, bool keepAlive) {
        giveBackBody();
        response = {};
        response.version(version);
        response.result(static_cast<unsigned>(reply.status));
        response.set(http::field::content_type, "application/json");
        if (reply.retryAfterSeconds > 0)
            response.set(http::field::retry_after, std::to_string(reply.retryAfterSeconds));
        response.keep_alive(keepAlive);
        response.body() = std::move(reply.body);
        response.prepare_payload();
        // An answer to HEAD tells the body's length but sends none: the client reads no body after it.
        if (answersHead) response.body().clear();
        ++served;
        restartDeadline();
        http::async_write(socket, response, [self = shared_from_this(), keepAlive](errorCode error, size_t) {
            if (error) return self->close();
            if (!keepAlive) return self->finish();
            self->readHead();
        });
    }

    // After the last answer: no more writes, and what the client still sends is read and dropped, so
    // that closing does not reset the connection before the client has read the answer.
    void finish() {
        errorCode ignored;
        socket.shutdown(tcp::socket::shutdown_send, ignored);
        drain();
    }

    void drain() {
        socket.async_read_some(asio::buffer(scratch), [self = shared_from_this()](errorCode error, size_t) {
            if (error) return self->close();
            self->drain();
        });
    }

    tcp::socket socket;
    TrankingServer::Timpl& server;
    const std::string address;
    beast::flat_buffer buffer;
    std::optional<http::request_parser<http::string_body>> parser;
    http::response<http::string_body> response;
    std::array<char, 4096> scratch{};
    unsigned version = 11;
    bool answersHead = false;
    size_t served = 0;
    size_t bodyBytesTaken = 0;
    double deadlineMs = noDeadline;
};

void TrankingServer::Timpl::accept() {
    acceptor.async_accept(network, [this](errorCode error, tcp::socket socket) {
        if (error == asio::error::operation_aborted) return;
        if (!error) {
            admit(std::move(socket));
            return accept();
        }
        // Out of descriptors or the like: try again shortly rather than spin.
        acceptTimer.expires_after(acceptPause);
        acceptTimer.async_wait([this](errorCode waited) {
            if (!waited) accept();
        });
    });
}

void TrankingServer::Timpl::admit(tcp::socket socket) {
    errorCode error;
    const tcp::endpoint peer = socket.remote_endpoint(error);
    if (error) return;
    const std::string address = peer.address().to_string();
    if (!gate.admit(address)) {
        ::send(socket.native_handle(), overCapText.data(), overCapText.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        return;
    }
    auto session = std::make_shared<Tsession>(std::move(socket), *this, address);
    sessions.push_back(session);
    session->start();
}

void TrankingServer::Timpl::sweepSoon() {
    sweepTimer.expires_after(sweepInterval);
    sweepTimer.async_wait([this](errorCode error) {
        if (error) return;
        sweep();
        sweepSoon();
    });
}

size_t TrankingServer::Timpl::sweep() {
    const double now = nowMs();
    size_t closed = 0;
    for (auto entry = sessions.begin(); entry != sessions.end();) {
        const std::shared_ptr<Tsession> session = entry->lock();
        if (!session) {
            entry = sessions.erase(entry);
            continue;
        }
        if (session->overdue(now)) {
            session->close();
            ++closed;
        }
        ++entry;
    }
    return closed;
}

TrankingServer::TrankingServer(TrankingStore& store, const TrankingLimits& limits, const TtransportLimits& transport)
    : impl(std::make_unique<Timpl>(store, limits, transport)) {}

TrankingServer::~TrankingServer() {
    stop();
}

int TrankingServer::bind(const std::string& address, int port) {
    try {
        tcp::resolver resolver(impl->network);
        const tcp::endpoint endpoint =
            resolver.resolve(address, std::to_string(port), tcp::resolver::passive | tcp::resolver::numeric_service)
                ->endpoint();
        // Bound again: the server moves to the new address.
        if (impl->acceptor.is_open()) impl->acceptor.close();
        impl->acceptor.open(endpoint.protocol());
        impl->acceptor.set_option(tcp::acceptor::reuse_address(true));
        impl->acceptor.bind(endpoint);
        impl->acceptor.listen(asio::socket_base::max_listen_connections);
        return impl->acceptor.local_endpoint().port();
    } catch (const boost::system::system_error&) {
        throw std::runtime_error("Cannot listen on " + address + " port " + std::to_string(port) + ".");
    }
}

void TrankingServer::serve() {
    impl->accept();
    impl->sweepSoon();
    impl->network.run();
}

void TrankingServer::stop() {
    impl->network.stop();
}

size_t TrankingServer::openConnections() const {
    return impl->gate.open();
}

bool TrankingServer::awaitOpenConnections(size_t count, std::chrono::milliseconds patience) const {
    return impl->gate.awaitOpen(count, patience);
}

size_t TrankingServer::closeOverdueConnections() {
    auto done = std::make_shared<std::promise<size_t>>();
    std::future<size_t> closed = done->get_future();
    asio::post(impl->network, [this, done] { done->set_value(impl->sweep()); });
    return closed.get();
}

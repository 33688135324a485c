// Routes of the ranking server, and JSON for the errors the HTTP library answers itself.
#include "ranking/rankingServer.h"

#include <httplib.h>
#include <sys/socket.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace {

void send(const TrankingReply& reply, httplib::Response& response) {
    response.status = reply.status;
    if (reply.retryAfterSeconds > 0) response.set_header("Retry-After", std::to_string(reply.retryAfterSeconds));
    response.set_content(reply.body, "application/json");
}

// What the library's own refusals mean, in the words of the service's errors.
nlohmann::json libraryError(int status) {
    switch (status) {
        case 404: return {{"error", "not_found"}, {"message", "There is nothing at this address."}};
        case 413: return {{"error", "body_too_large"}, {"message", "The request body is too large."}};
        case 405: return {{"error", "method_not_allowed"}, {"message", "This address does not take that method."}};
        default: return {{"error", "bad_request"}, {"message", "The request could not be read."}};
    }
}

}  // namespace

TrankingServer::TrankingServer(TrankingStore& store, const TrankingLimits& limits)
    : service(store, limits), server(std::make_unique<httplib::Server>()) {
    server->set_socket_options([this](int socket) {
        int yes = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
        listeningSocket = socket;
    });
    server->set_payload_max_length(limits.maxBodyBytes);
    const size_t workers = std::max<size_t>(limits.workerThreads, 1);
    server->new_task_queue = [workers] { return new httplib::ThreadPool(workers); };
    // A game client or a proxy sends many requests on one connection; closing it after a few
    // makes them connect again through the library's short listen queue.
    server->set_keep_alive_max_count(100000);
    // A reply goes out in two writes (head, body); without this the second waits for the client's
    // delayed acknowledgement, tens of ms a request.
    server->set_tcp_nodelay(true);
    server->Post("/v1/players", [this](const httplib::Request& request, httplib::Response& response) {
        send(service.registerPlayer(request.body, request.remote_addr), response);
    });
    server->Post("/v1/offsets", [this](const httplib::Request& request, httplib::Response& response) {
        send(service.registerOffsets(request.get_header_value("Authorization"), request.body), response);
    });
    server->Post("/v1/plays", [this](const httplib::Request& request, httplib::Response& response) {
        send(service.submitPlay(request.get_header_value("Authorization"), request.body), response);
    });
    server->Put(R"(/v1/charts/([^/]+))", [this](const httplib::Request& request, httplib::Response& response) {
        send(service.putChart(request.get_header_value("Authorization"), request.matches[1], request.body), response);
    });
    server->Get(R"(/v1/charts/([^/]+)/([^/]+)/leaderboard)",
                [this](const httplib::Request& request, httplib::Response& response) {
                    send(service.leaderboard(request.matches[1], request.matches[2],
                                             request.get_param_value("limit")),
                         response);
                });
    server->Get(R"(/v1/players/([^/]+))", [this](const httplib::Request& request, httplib::Response& response) {
        send(service.playerPlays(request.matches[1]), response);
    });
    server->set_error_handler([](const httplib::Request&, httplib::Response& response) {
        if (!response.body.empty()) return;
        response.set_content(libraryError(response.status).dump(), "application/json");
    });
    server->set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
        response.status = 500;
        response.set_content(R"({"error":"internal","message":"The server failed to answer; try again later."})",
                             "application/json");
    });
}

TrankingServer::~TrankingServer() {
    stop();
}

int TrankingServer::bind(const std::string& address, int port) {
    const int bound = port == 0                                ? server->bind_to_any_port(address)
                      : server->bind_to_port(address, port) ? port
                                                              : -1;
    if (bound <= 0) throw std::runtime_error("Cannot listen on " + address + " port " + std::to_string(port) + ".");
    return bound;
}

void TrankingServer::serve() {
    server->listen_after_bind();
}

void TrankingServer::stop() {
    const int socket = listeningSocket.exchange(-1);
    if (socket >= 0) ::shutdown(socket, SHUT_RDWR);
    server->stop();
}

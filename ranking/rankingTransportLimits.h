// How much of the network the ranking server lets one client hold: connections, time and header bytes.
#pragma once

#include <cstddef>
#include <string>

class Tclock;

struct TtransportLimits {
    // Connections open at once, overall and from one address; the next one is closed at once.
    size_t maxConnections = 512;
    size_t maxConnectionsPerAddress = 32;
    // A request must arrive whole (the wait for it, its headers and its body) this long after the
    // connection opened or its previous answer went out; else the connection is closed.
    double requestDeadlineMs = 10000.0;
    // Answers on one connection before the server closes it.
    size_t maxRequestsPerConnection = 100;
    // The request line and header fields together, in bytes, and the number of fields.
    size_t maxHeaderBytes = 16 * 1024;
    size_t maxHeaderFields = 64;
    // Request bodies being read or worked on, all connections together: a body told by its
    // Content-Length counts that many bytes from its head on, a chunked one the body limit.
    size_t maxBodyBytesInFlight = 32 * 1024 * 1024;
    // The share of that budget the connections from one address may hold together, so that a few
    // idle bodies from one client cannot refuse every other client's plays. Not held when
    // maxConnectionsPerAddress is 0 (behind a proxy, where every client has the proxy's address).
    size_t maxBodyBytesInFlightPerAddress = 4 * 1024 * 1024;
    // Bytes received on one connection and not yet taken into a request: bounds a chunk's size line
    // (extensions included) and the trailer, which have no limit of their own. A whole request head
    // always fits, whatever this says.
    size_t maxPendingBytes = 32 * 1024;
    // The address of a proxy in front of the server (nginx): a request it passes on is counted
    // against the client it names in X-Real-IP, so that limits per address (registrations) hold
    // for each player and not for the proxy. Empty: every request counts against its own peer.
    std::string trustedProxy;
    // The clock the deadlines are kept on (not owned); the system's when null.
    Tclock* clock = nullptr;
};

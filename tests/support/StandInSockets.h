#pragma once

#include <QtGlobal>

namespace testsupport::standin {

// Shuts down, both ways, every connected TCP socket of this process whose local port is `localPort` and, when
// `peerPort` is not -1, whose peer port is `peerPort`. cpp-httplib hands its handlers no socket, and a connection
// must be cut both to drop a request without an answer and to end idle keep-alive waits when the server stops.
// shutdown() leaves the descriptor to its owner, so this never races with the server closing it.
int shutDownConnections(quint16 localPort, int peerPort = -1);

} // namespace testsupport::standin

// The Linux program's sockets: TCP set up as the Windows side sets its own
// (keep-alives, control packets at once), non-blocking and closed on exec.
// What the connections carry and how they heal is the link engine's.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <string>

// The connect gives -1 when it cannot start; a listener gives -1 with errno set.
int startConnectTo(in_addr address, int32_t port);
int openListener(int32_t port);
int acceptFrom(int listener, in_addr* peer);
// The result of a connect once the socket is writable: 0 or the error.
int connectResult(int fd);
// Writes what the socket takes now: the bytes taken, or -1 when it failed.
int32_t writeSome(int fd, const void* data, size_t n);
// The partner's first IPv4 address, and whether an address is one of its.
bool resolvePartner(const std::string& host, in_addr* address);
bool isPartnerAddress(const std::string& host, in_addr peer);
// Whether the address is one of this PC's own.
bool isLocalAddress(in_addr address);
// Control packets go at once, as between two PCs that keep a window of them.
void sendAtOnce(int fd);

// The router's own names and addresses, which Host must name where the web
// server sets no REMOTE_USER.
#pragma once

/// Whether host (from Host, without its port) is one of this router's own
/// names or addresses: its host name, localhost, or an address of one of
/// its interfaces.
bool router_host_name(const char* host);

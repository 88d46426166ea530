// The rates request, as the agent's string table holds it and zlvtool fetch sends it. The
// resource compiler reads this file too: it sees only the macros.
#pragma once

// The page's name as 1.5 kept it in its own string; the path now comes with the address.
#define ZLV_UPDATE_PATH_TEXT "updatedrates.php"
// Formatted with the request target (the address's path, or through a proxy the whole address),
// then the Host field.
#define ZLV_UPDATE_REQUEST_TEXT                                                                    \
    "GET %s HTTP/1.0\r\nHost: %s\r\nAccept: text/html \r\nCache-Control: no-cache \r\n\r\n"

#ifndef RC_INVOKED
// The agent's patience with the update server: for the connection, for each wait while the
// request goes out, and for each read of the reply.
enum {
    kUpdateConnectSeconds = 10,
    kUpdateSendSeconds = 1,
    kUpdateStallSeconds = 2,
};
#endif

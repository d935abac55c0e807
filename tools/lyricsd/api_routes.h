#pragma once

namespace httplib {
class Server;
}

namespace quillon::lyricsd {

class Store;

// Serves the read API (api.h) under /api on `server`: every GET below /api is answered by
// AnswerApi, and a browser's preflight request for one is allowed.
void RegisterApi(httplib::Server& server, Store& store);

}  // namespace quillon::lyricsd

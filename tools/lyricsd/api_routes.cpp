#include "lyricsd/api_routes.h"

#include <httplib.h>

#include "lyricsd/api.h"

namespace quillon::lyricsd {

void RegisterApi(httplib::Server& server, Store& store) {
    constexpr const char* Pattern = R"(/api(/.*)?)";
    server.Get(Pattern, [&store](const httplib::Request& request, httplib::Response& response) {
        const ApiAnswer answer = AnswerApi(store, request.path, request.params);
        response.status = answer.status;
        for (const auto& [name, value] : answer.headers) response.set_header(name, value);
        response.set_content(answer.body, answer.contentType);
    });
    server.Options(Pattern, [](const httplib::Request&, httplib::Response& response) {
        response.status = 204;
        response.set_header("Access-Control-Allow-Origin", "*");
        response.set_header("Access-Control-Allow-Methods", "GET, OPTIONS");
        response.set_header("Access-Control-Max-Age", "86400");
    });
}

}  // namespace quillon::lyricsd

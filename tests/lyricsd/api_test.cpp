#include "lyricsd/api.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "store_songs.h"

namespace quillon::lyricsd {
namespace {

using testing::Song;
using testing::StoreFolder;

const std::string Morning =
    R"({"id":1,"name":"Morning Light","trackName":"Morning Light","artistName":"Hana Park",)"
    R"("albumName":"First Album","duration":233.0,"instrumental":false,)"
    R"("plainLyrics":"Hello\nWorld\n","syncedLyrics":"[00:01.00]Hello\n[00:02.50]World\n"})";
const std::string Sky =
    R"({"id":2,"name":"하늘","trackName":"하늘","artistName":"가수","albumName":"",)"
    R"("duration":180.5,"instrumental":false,"plainLyrics":"하늘 아래","syncedLyrics":null})";
const std::string Quiet =
    R"({"id":3,"name":"Quiet Hour","trackName":"Quiet Hour","artistName":"Hana Park",)"
    R"("albumName":"First Album","duration":60.0,"instrumental":true,"plainLyrics":null,)"
    R"("syncedLyrics":null})";
const std::string NotFoundTrack =
    R"({"code":404,"name":"TrackNotFound","message":"Failed to find specified track",)"
    R"("statusCode":404})";
const std::string NoEndpoint =
    R"({"code":404,"name":"NotFound","message":"No such API endpoint","statusCode":404})";

std::string Bad(const std::string& message) {
    return R"({"code":400,"name":"BadRequest","message":")" + message + R"(","statusCode":400})";
}

class ApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        store = folder.Open();
        ASSERT_NE(store, nullptr);
        auto quiet = Song("/m/3.mp3", "Quiet Hour", "Hana Park", "First Album", 60);
        quiet.instrumental = true;
        StoreFolder::Put(
            *store, {Song("/m/1.mp3", "Morning Light", "Hana Park", "First Album", 233,
                          "[00:01.00]Hello\n[00:02.50]World\n", "Hello\nWorld\n"),
                     Song("/m/2.mp3", "하늘", "가수", "", 180.5, std::nullopt, "하늘 아래"), quiet,
                     Song("/m/4.mp3", "caf\xE9 \xFF", "A", "", 1)});
    }

    StoreFolder folder;
    std::unique_ptr<Store> store;
};

TEST_F(ApiTest, AnswersEachEndpointAndErrorAsLrclibDoes) {
    const std::string get = "/api/get", byId = "/api/get/", search = "/api/search";
    const ApiParameters morning = {{"track_name", "morning light"}, {"artist_name", "HANA PARK"}};
    const auto with = [&](ApiParameters params, const char* name, std::string value) {
        params.emplace(name, std::move(value));
        return params;
    };
    const struct {
        std::string path;
        ApiParameters params;
        int status;
        std::string body;
    } cases[] = {
        {get, morning, 200, Morning},
        {"/api/get-cached", morning, 200, Morning},
        {get, with(with(morning, "album_name", "First Album (Deluxe)"), "duration", "234.5"), 200,
         Morning},
        {get, with(morning, "album_name", ""), 200, Morning},
        {get, with(morning, "album_name", "Second Album"), 404, NotFoundTrack},
        {get, with(morning, "duration", "236"), 404, NotFoundTrack},
        {get, {{"track_name", "하늘"}, {"artist_name", "가수"}, {"duration", "181"}}, 200, Sky},
        {get, {{"artist_name", "Hana Park"}}, 400, Bad("track_name is required")},
        {get, {{"track_name", "Morning Light"}}, 400, Bad("artist_name is required")},
        {get, with(morning, "duration", "abc"), 400, Bad("duration must be a number of seconds")},
        {get, with(morning, "duration", "-1"), 400, Bad("duration must be a number of seconds")},
        {get, with(morning, "duration", "233 "), 400, Bad("duration must be a number of seconds")},
        {get, with(morning, "duration", "1e999"), 400, Bad("duration must be a number of seconds")},
        {get, with(morning, "duration", "nan"), 400, Bad("duration must be a number of seconds")},
        {get, with(morning, "duration", ""), 400, Bad("duration must be a number of seconds")},
        {byId + "1", {}, 200, Morning},
        {byId + "3", {}, 200, Quiet},
        {byId + "999", {}, 404, NotFoundTrack},
        {byId + "0", {}, 400, Bad("The track id must be a whole number of 1 or more")},
        {byId + "-1", {}, 400, Bad("The track id must be a whole number of 1 or more")},
        {byId + "99999999999999999999",
         {},
         400,
         Bad("The track id must be a whole number of 1 or more")},
        {byId + "abc", {}, 400, Bad("The track id must be a whole number of 1 or more")},
        {byId + "1.5", {}, 400, Bad("The track id must be a whole number of 1 or more")},
        {byId, {}, 404, NoEndpoint},
        {byId + "1/lyrics", {}, 404, NoEndpoint},
        {search, {{"q", "morning"}}, 200, "[" + Morning + "]"},
        {search, {{"track_name", "하늘"}}, 200, "[" + Sky + "]"},
        {search, {{"track_name", "light"}, {"artist_name", "park"}}, 200, "[" + Morning + "]"},
        // q wins over the fields; of two equal matches the song with less text ranks first.
        {search,
         {{"q", "park"}, {"album_name", "nothing"}},
         200,
         "[" + Quiet + "," + Morning + "]"},
        {search, {{"q", ""}}, 200, "[]"},
        {search, {{"q", "\"NEAR( * -"}}, 200, "[]"},
        {search, {}, 400, Bad("Either q or track_name is required")},
        {search, {{"artist_name", "Hana Park"}}, 400, Bad("Either q or track_name is required")},
        {search,
         {{"q", std::string(1025, 'a')}},
         400,
         Bad("A parameter is longer than 1024 bytes")},
        {"/api", {}, 404, NoEndpoint},
        {"/api/publish", {}, 404, NoEndpoint},
        {"/api/search/", {{"q", "morning"}}, 404, NoEndpoint},
    };
    for (const auto& c : cases) {
        std::string what = c.path;
        for (const auto& [name, value] : c.params) what += " " + name + "=" + value.substr(0, 20);
        const ApiAnswer answer = AnswerApi(*store, c.path, c.params);
        EXPECT_EQ(answer.status, c.status) << what;
        EXPECT_EQ(answer.body, c.body) << what;
        EXPECT_EQ(answer.contentType, "application/json") << what;
        EXPECT_EQ(answer.headers, (std::vector<std::pair<std::string, std::string>>{
                                      {"Access-Control-Allow-Origin", "*"}}))
            << what;
    }
}

TEST_F(ApiTest, TextThatIsNotUtf8IsReplacedInTheAnswer) {
    const ApiAnswer answer = AnswerApi(*store, "/api/get/4", {});
    ASSERT_EQ(answer.status, 200);
    EXPECT_EQ(nlohmann::json::parse(answer.body).at("trackName"), "caf\uFFFD \uFFFD");
}

TEST_F(ApiTest, SearchAnswersWithAtMostTwentySongs) {
    Store::Batch batch(*store);
    for (int i = 0; i < 30; ++i)
        batch.Put(Song("/m/rain" + std::to_string(i) + ".mp3", "Rain", "Band", "", 1));
    ASSERT_TRUE(batch.Commit());
    const auto songs =
        nlohmann::json::parse(AnswerApi(*store, "/api/search", {{"q", "rain"}}).body);
    EXPECT_EQ(songs.size(), 20u);
}

}  // namespace
}  // namespace quillon::lyricsd

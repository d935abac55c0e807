// quillon-lyricsd's catalogue at scale. For each size N (default 5,000 and 100,000) a catalogue
// of N small tagged MP3 files, each with an LRC file beside it, is built under $TMPDIR: folders
// of 1,000 songs and one big folder of 10,000 (half the songs for a smaller N), titles and
// artists drawn from a list of English and Korean words (a third of the titles hold a
// two-syllable Hangul word). Then, with the real binary as a child process:
//   - the first index: from the start until "listening on", and the service's CPU until then;
//   - restarts over the unchanged catalogue, the same database (median), each beside what
//     listing the folders and a stat of every file cost by themselves;
//   - a new song and its LRC file put into a folder, until /api/get finds it (median);
//   - /api/search and /api/get from several clients at once on keep-alive connections, each
//     query from a random song of the catalogue: latency percentiles, requests per second and
//     the service's CPU per request;
//     and single searches for the words that match the most songs, one at a time;
//   - GetLyric5 requests per second from the same clients, against this service and, in the
//     same run and round by round, against the earlier in-memory one (--baseline) indexing the
//     same catalogue.
// Figures on a shared machine are noisy: run it more than once. Usage: see --help.
#include <fcntl.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <latch>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <vector>

#include "audio/checksum.h"
#include "service/lyricquery.h"
#include "songs.h"

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

// ---------------------------------------------------------------------------------------------
// Settings

struct Settings {
    std::vector<int> sizes{5000, 100000};
    int folderSize = 1000;
    int bigFolder = 10000;  // at most half the songs
    int restarts = 5;
    int additions = 5;
    int clients = 8;
    double seconds = 20;      // each of /api/search and /api/get
    double soapSeconds = 10;  // each round, each service
    int soapRounds = 3;
    std::string service = QUILLON_LYRICSD;
    std::string baseline = "/tmp/lyricsd-old/build/release/tools/lyricsd/quillon-lyricsd";
    bool keep = false;
    std::uint32_t seed = 20261210;
};

constexpr const char* Usage =
    "Usage: lyricsd_bench [--songs N[,N...]] [--folder-size N] [--big-folder N]\n"
    "                     [--restarts N] [--additions N] [--clients N] [--seconds S]\n"
    "                     [--soap-seconds S] [--soap-rounds N] [--service PATH]\n"
    "                     [--baseline PATH|none] [--seed N] [--keep]\n"
    "\n"
    "Defaults: --songs 5000,100000 --folder-size 1000 --big-folder 10000 --restarts 5\n"
    "--additions 5 --clients 8 --seconds 20 --soap-seconds 10 --soap-rounds 3; the service is\n"
    "this build's quillon-lyricsd, the baseline the earlier in-memory one built in\n"
    "/tmp/lyricsd-old. The catalogues go under $TMPDIR (default /tmp) and are removed at the\n"
    "end unless --keep is given. A quick run: --songs 2000 --seconds 5 --soap-seconds 3.\n";

std::optional<Settings> ParseSettings(int argc, char** argv) {
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
            return argv[++i];
        };
        try {
            if (arg == "--songs") {
                settings.sizes.clear();
                std::stringstream list(value());
                for (std::string item; std::getline(list, item, ',');)
                    settings.sizes.push_back(std::stoi(item));
            } else if (arg == "--folder-size") {
                settings.folderSize = std::stoi(value());
            } else if (arg == "--big-folder") {
                settings.bigFolder = std::stoi(value());
            } else if (arg == "--restarts") {
                settings.restarts = std::stoi(value());
            } else if (arg == "--additions") {
                settings.additions = std::stoi(value());
            } else if (arg == "--clients") {
                settings.clients = std::stoi(value());
            } else if (arg == "--seconds") {
                settings.seconds = std::stod(value());
            } else if (arg == "--soap-seconds") {
                settings.soapSeconds = std::stod(value());
            } else if (arg == "--soap-rounds") {
                settings.soapRounds = std::stoi(value());
            } else if (arg == "--service") {
                settings.service = value();
            } else if (arg == "--baseline") {
                settings.baseline = value();
            } else if (arg == "--seed") {
                settings.seed = static_cast<std::uint32_t>(std::stoul(value()));
            } else if (arg == "--keep") {
                settings.keep = true;
            } else if (arg == "-h" || arg == "--help") {
                std::fputs(Usage, stdout);
                std::exit(0);
            } else {
                throw std::invalid_argument("unknown argument " + arg);
            }
        } catch (const std::exception& error) {
            std::fprintf(stderr, "lyricsd_bench: %s\n%s", error.what(), Usage);
            return std::nullopt;
        }
    }
    if (settings.sizes.empty() || settings.folderSize < 1 || settings.clients < 1 ||
        settings.restarts < 1 || settings.additions < 1 || settings.soapRounds < 1 ||
        std::any_of(settings.sizes.begin(), settings.sizes.end(), [](int n) { return n < 10; })) {
        std::fprintf(stderr, "lyricsd_bench: sizes of at least 10, counts of at least 1\n");
        return std::nullopt;
    }
    return settings;
}

// ---------------------------------------------------------------------------------------------
// Figures

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The nearest-rank percentile of sorted values.
double Percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0;
    const auto rank =
        static_cast<std::size_t>(std::ceil(p / 100 * static_cast<double>(sorted.size())));
    return sorted[std::min(sorted.size() - 1, rank == 0 ? 0 : rank - 1)];
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// 12345678 as "12,345,678".
std::string Grouped(long long value) {
    const std::string digits = std::to_string(value < 0 ? -value : value);
    std::string out = value < 0 ? "-" : "";
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::string Spread(const std::vector<double>& values, int decimals, const char* unit) {
    if (values.empty()) return "-";
    return Fixed(Median(values), decimals) + (*unit != '\0' ? " " : "") + unit + " (" +
           Fixed(*std::min_element(values.begin(), values.end()), decimals) + "-" +
           Fixed(*std::max_element(values.begin(), values.end()), decimals) + ")";
}

// ---------------------------------------------------------------------------------------------
// Words

// English words and Korean words of three and four syllables: the words of titles and artists.
constexpr const char* CommonWords[] = {
    "love",       "night",     "heart",      "dream",     "fire",        "rain",      "summer",
    "light",      "star",      "moon",       "time",      "sky",         "blue",      "road",
    "home",       "dance",     "girl",       "boy",       "baby",        "world",     "life",
    "river",      "city",      "wild",       "shadow",    "golden",      "ocean",     "silver",
    "wind",       "song",      "angel",      "kiss",      "tears",       "morning",   "winter",
    "spring",     "autumn",    "sun",        "stone",     "paper",       "glass",     "broken",
    "forever",    "young",     "last",       "first",     "little",      "sweet",     "bitter",
    "midnight",   "echo",      "electric",   "neon",      "highway",     "desert",    "island",
    "garden",     "window",    "mirror",     "thunder",   "storm",       "rose",      "violet",
    "honey",      "sugar",     "velvet",     "diamond",   "crystal",     "lonely",    "crazy",
    "secret",     "hidden",    "lost",       "found",     "waiting",     "running",   "falling",
    "flying",     "burning",   "shining",    "fading",    "calling",     "holding",   "walking",
    "dreaming",   "memory",    "story",      "letter",    "promise",     "goodbye",   "hello",
    "tonight",    "yesterday", "tomorrow",   "forget",    "remember",    "believe",   "wonder",
    "freedom",    "paradise",  "heaven",     "ghost",     "smoke",       "gold",      "cherry",
    "lemon",      "orange",    "purple",     "scarlet",   "shadows",     "circle",    "northern",
    "southern",   "western",   "eastern",    "harbor",    "bridge",      "tower",     "castle",
    "kingdom",    "queen",     "king",       "prince",    "soldier",     "sailor",    "stranger",
    "lover",      "friend",    "brother",    "sister",    "mother",      "father",    "children",
    "people",     "alone",     "together",   "again",     "always",      "never",     "maybe",
    "only",       "every",     "other",      "under",     "over",        "between",   "beyond",
    "inside",     "outside",   "away",       "back",      "down",        "high",      "deep",
    "slow",       "fast",      "quiet",      "loud",      "bright",      "dark",      "cold",
    "warm",       "empty",     "full",       "open",      "closed",      "free",      "true",
    "real",       "strange",   "perfect",    "simple",    "beautiful",   "wonderful", "dangerous",
    "gentle",     "tender",    "savage",     "silent",    "velvet",      "lucky",     "happy",
    "sorry",      "blind",     "golden",     "rainbow",   "thunderbird", "butterfly", "firefly",
    "dragon",     "tiger",     "wolf",       "eagle",     "raven",       "swan",      "horse",
    "satellite",  "rocket",    "planet",     "galaxy",    "comet",       "horizon",   "canyon",
    "valley",     "mountain",  "forest",     "meadow",    "flower",      "petal",     "leaf",
    "tree",       "seed",      "wave",       "tide",      "shore",       "sand",      "snow",
    "ice",        "frost",     "cloud",      "sunset",    "sunrise",     "daylight",  "starlight",
    "moonlight",  "heartbeat", "rhythm",     "melody",    "harmony",     "guitar",    "piano",
    "drum",       "radio",     "television", "telephone", "machine",     "engine",    "motor",
    "train",      "station",   "airport",    "avenue",    "boulevard",   "street",    "corner",
    "alley",      "market",    "carnival",   "circus",    "theater",     "cinema",    "picture",
    "photograph", "canvas",    "poem",       "chapter",   "그리움",      "기다림",    "첫사랑",
    "봄바람",     "아름다운",  "보고싶다",   "사랑해요",  "밤하늘",      "별자리",    "무지개",
    "눈사람",     "바닷가",    "고양이",     "강아지",    "어린왕자",    "해바라기",  "민들레",
    "코스모스",   "소나기",    "거짓말",     "혼잣말",    "발걸음",      "그림자",    "불꽃놀이",
    "여행자",     "생일축하",  "달팽이",     "돌고래",    "나침반",      "손편지",    "모래시계",
    "숨바꼭질",   "첫걸음",    "꽃다발",     "바이올린",  "피아노",      "오르골",    "솜사탕",
    "별똥별",     "은하수",    "반딧불",     "유리병",    "종이배",      "눈송이",    "가로등",
    "골목길",     "기찻길",    "정류장",     "우체통",    "자전거",      "해질녘",    "달맞이",
    "풍선껌",     "봄날의",    "그대여",     "사랑아",    "너에게",      "나에게",    "우리들",
    "좋은날",     "어느날",    "그날밤",     "첫키스",    "이야기",      "비행기",    "놀이터",
    "운동장",     "도서관",    "미술관",     "박물관",    "여름밤",      "겨울밤",    "가을비",
    "봄여름",     "한여름",    "눈꽃송이",   "하얀눈",    "파란하늘",    "빨간구두",  "노란우산",
};

// Korean words of two syllables: a third of the titles hold one.
constexpr const char* TwoSyllableWords[] = {
    "사랑", "하늘", "바다", "노래", "우리", "시간", "그대", "눈물", "마음", "바람", "별빛",
    "여름", "겨울", "가을", "봄날", "하루", "기억", "이별", "추억", "소녀", "소년", "꽃잎",
    "달빛", "햇살", "거리", "도시", "고백", "행복", "웃음", "약속", "안녕", "친구", "편지",
    "꿈속", "새벽", "한숨", "청춘", "세상", "빗물", "구름", "나비", "파도", "노을", "그림",
    "영원", "순간", "오늘", "내일", "어제", "비밀", "선물", "눈빛", "미소", "향기", "첫눈",
    "봄비", "밤길", "골목", "창문", "열쇠", "계절", "소원", "운명", "여행",
};

struct Words {
    std::vector<std::string> common;     // English, and Korean of 3 and 4 syllables
    std::vector<std::string> twoHangul;  // Korean of 2 syllables
    std::vector<std::string> all;
};

Words MakeWords() {
    Words words;
    std::set<std::string> seen;
    for (const char* w : CommonWords)
        if (seen.insert(w).second) words.common.emplace_back(w);
    for (const char* w : TwoSyllableWords)
        if (seen.insert(w).second) words.twoHangul.emplace_back(w);
    words.all = words.common;
    words.all.insert(words.all.end(), words.twoHangul.begin(), words.twoHangul.end());
    return words;
}

bool IsTwoSyllableHangul(std::string_view word) {
    // Two Hangul syllables are two three-byte sequences from U+AC00 to U+D7A3.
    return word.size() == 6 && static_cast<unsigned char>(word[0]) >= 0xEA &&
           static_cast<unsigned char>(word[3]) >= 0xEA;
}

// ---------------------------------------------------------------------------------------------
// The catalogue

struct Song {
    std::string title;
    std::string artist;
    std::vector<std::string> titleWords;
    fs::path mp3;
};

struct Catalogue {
    fs::path root;
    std::vector<Song> songs;
    int folders = 0;
    int bigFolderSongs = 0;
    std::uintmax_t bytes = 0;  // of the songs and LRC files
    double buildSeconds = 0;
};

std::string PickTitle(std::mt19937_64& rng, const Words& words, bool withTwoSyllables,
                      std::vector<std::string>& picked) {
    static constexpr int LengthWeights[] = {20, 35, 30, 15};  // 1 to 4 words
    std::discrete_distribution<int> length(std::begin(LengthWeights), std::end(LengthWeights));
    const int count = length(rng) + 1;
    picked.clear();
    for (int i = 0; i < count; ++i) picked.push_back(words.common[rng() % words.common.size()]);
    if (withTwoSyllables)
        picked.insert(picked.begin() + static_cast<long>(rng() % (picked.size() + 1)),
                      words.twoHangul[rng() % words.twoHangul.size()]);
    std::string title;
    for (const std::string& word : picked) title += (title.empty() ? "" : " ") + word;
    return title;
}

std::string PickArtist(std::mt19937_64& rng, const Words& words) {
    std::string artist = words.all[rng() % words.all.size()];
    if (rng() % 2 == 0) artist += " " + words.all[rng() % words.all.size()];
    return artist;
}

std::string MakeLrc(std::mt19937_64& rng, const Words& words, const Song& song) {
    std::string lrc = "[ti:" + song.title + "]\n[ar:" + song.artist + "]\n";
    char stamp[16];
    for (int line = 0; line < 36; ++line) {
        const int centis = line * 450 + static_cast<int>(rng() % 100);
        std::snprintf(stamp, sizeof stamp, "[%02d:%02d.%02d]", centis / 6000, centis / 100 % 60,
                      centis % 100);
        lrc += stamp;
        const int count = 3 + static_cast<int>(rng() % 4);
        for (int i = 0; i < count; ++i)
            lrc += (i == 0 ? "" : " ") + words.all[rng() % words.all.size()];
        lrc += '\n';
    }
    return lrc;
}

bool WriteFile(const fs::path& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    return ::close(fd) == 0 && ok;
}

constexpr int AudioFrames = 6;

// The song's MP3 file and LRC file, written at `mp3`.
bool WriteSong(const Song& song, std::uint32_t seed, const std::string& lrc) {
    fs::path lrcPath = song.mp3;
    lrcPath.replace_extension(".lrc");
    return WriteFile(lrcPath, lrc) &&
           WriteFile(song.mp3, quillon::bench::MakeTextTag(song.title, song.artist) +
                                   quillon::bench::MakeShortSong(seed, AudioFrames));
}

Catalogue BuildCatalogue(const fs::path& root, int count, const Settings& settings,
                         const Words& words) {
    const auto start = Clock::now();
    Catalogue catalogue;
    catalogue.root = root;
    catalogue.bigFolderSongs = std::min(settings.bigFolder, count / 2);
    std::mt19937_64 rng(settings.seed + static_cast<std::uint32_t>(count));
    std::unordered_set<std::string> pairs;
    fs::path folder;
    catalogue.songs.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const bool big = i < catalogue.bigFolderSongs;
        const int inFolder = big ? i : (i - catalogue.bigFolderSongs) % settings.folderSize;
        if (i == 0 || (!big && inFolder == 0)) {
            char name[32];
            if (big)
                std::snprintf(name, sizeof name, "big");
            else
                std::snprintf(name, sizeof name, "folder-%03d",
                              (i - catalogue.bigFolderSongs) / settings.folderSize);
            folder = root / name;
            fs::create_directories(folder);
            ++catalogue.folders;
        }
        Song song;
        // Every song its own title and artist.
        do {
            song.title = PickTitle(rng, words, i % 3 == 0, song.titleWords);
            song.artist = PickArtist(rng, words);
        } while (!pairs.insert(song.title + '\n' + song.artist).second);
        char name[32];
        std::snprintf(name, sizeof name, "song-%06d.mp3", i);
        song.mp3 = folder / name;
        const std::string lrc = MakeLrc(rng, words, song);
        if (!WriteSong(song, settings.seed * 7919u + static_cast<std::uint32_t>(i), lrc))
            throw std::runtime_error("cannot write " + song.mp3.string());
        catalogue.bytes += lrc.size() + fs::file_size(song.mp3);
        catalogue.songs.push_back(std::move(song));
    }
    ::sync();  // the write-back of the new files is not the service's time
    catalogue.buildSeconds = Seconds(Clock::now() - start);
    return catalogue;
}

// ---------------------------------------------------------------------------------------------
// The service as a child process

class Service {
public:
    Service(const std::vector<std::string>& argv, const fs::path& log) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0644);
        std::vector<std::string> args = argv;
        std::vector<char*> raw;
        for (std::string& arg : args) raw.push_back(arg.data());
        raw.push_back(nullptr);
        const int spawned = posix_spawn(&pid, raw[0], &actions, nullptr, raw.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        output = fds[0];
        if (spawned != 0) {
            ::close(output);
            throw std::runtime_error("cannot start " + argv[0]);
        }
    }
    ~Service() {
        Stop();
        ::close(output);
    }
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    std::optional<std::string> ReadLine(std::chrono::milliseconds limit) {
        const auto until = Clock::now() + limit;
        for (;;) {
            if (const std::size_t end = pending.find('\n'); end != std::string::npos) {
                std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                return line;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            pollfd p{output, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                return std::nullopt;
            char buffer[4096];
            const ssize_t n = ::read(output, buffer, sizeof buffer);
            if (n <= 0) return std::nullopt;
            pending.append(buffer, static_cast<std::size_t>(n));
        }
    }

    // SIGTERM, then SIGKILL if it has not ended within a minute.
    void Stop() {
        if (pid <= 0) return;
        ::kill(pid, SIGTERM);
        const auto until = Clock::now() + 60s;
        while (::waitpid(pid, nullptr, WNOHANG) != pid) {
            if (Clock::now() > until) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
                break;
            }
            std::this_thread::sleep_for(2ms);
        }
        pid = -1;
    }

    // A field of /proc/PID/status in KiB ("VmRSS", "VmHWM").
    long MemoryKiB(const char* field) const {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        const std::string prefix = std::string(field) + ":";
        for (std::string line; std::getline(status, line);)
            if (line.starts_with(prefix)) return std::atol(line.c_str() + prefix.size());
        return -1;
    }

    // The CPU time the process has used so far, user and system, in seconds.
    double CpuSeconds() const {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        const std::size_t close = text.rfind(')');  // the name may hold spaces
        if (close == std::string::npos) return 0;
        std::stringstream fields(text.substr(close + 2));
        std::string field;
        double ticks = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i)
            if (i >= 14) ticks += std::stod(field);  // utime, stime
        return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }

private:
    pid_t pid = -1;
    int output = -1;
    std::string pending;
};

struct Running {
    std::unique_ptr<Service> service;
    int port = 0;
    double startSeconds = 0;
    double startCpuSeconds = 0;  // what the service used until then, its threads together
};

// Starts the service and waits for its "listening on" line.
Running Start(const std::vector<std::string>& argv, const fs::path& log,
              std::chrono::milliseconds limit) {
    Running running;
    const auto start = Clock::now();
    running.service = std::make_unique<Service>(argv, log);
    const auto line = running.service->ReadLine(limit);
    running.startSeconds = Seconds(Clock::now() - start);
    running.startCpuSeconds = running.service->CpuSeconds();
    constexpr std::string_view Listening = "listening on ";
    if (!line || !line->starts_with(Listening))
        throw std::runtime_error(argv[0] + " did not start; see " + log.string());
    running.port = std::stoi(line->substr(line->rfind(':') + 1));
    return running;
}

// This process's CPU time, its threads together.
double ProcessCpuSeconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// What any scan that looks at every file's size and time has to do at the least: list the
// folders and stat each file once. Seconds of the clock and of this process's CPU.
std::pair<double, double> ListAndStat(const fs::path& root) {
    const auto start = Clock::now();
    const double cpu = ProcessCpuSeconds();
    struct stat info {};
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file()) ::stat(entry.path().c_str(), &info);
    return {Seconds(Clock::now() - start), ProcessCpuSeconds() - cpu};
}

std::uintmax_t FileSize(const fs::path& file) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(file, error);
    return error ? 0 : size;
}

// ---------------------------------------------------------------------------------------------
// Clients

std::unique_ptr<httplib::Client> Connect(int port) {
    auto client = std::make_unique<httplib::Client>("127.0.0.1", port);
    client->set_keep_alive(true);
    client->set_tcp_nodelay(true);
    client->set_connection_timeout(10);
    client->set_read_timeout(60);
    return client;
}

// One kind of request: what is sent and what counts as answered.
struct Request {
    std::string path;  // with its query
    std::string body;  // POSTed when not empty
    int kind = 0;      // reported apart
};

struct LoadResult {
    std::vector<std::vector<double>> byKind;  // latencies in ms, sorted
    std::vector<double> all;                  // sorted
    long long requests = 0;
    long long failures = 0;
    double seconds = 0;
    double serverCpuSeconds = 0;  // the service's, user and system
    double PerSecond() const { return seconds > 0 ? static_cast<double>(requests) / seconds : 0; }
    double CpuMsPerRequest() const {
        return requests > 0 ? serverCpuSeconds * 1000 / static_cast<double>(requests) : 0;
    }
};

// `clients` threads, each on its own keep-alive connection, send requests from `requests`
// (each from its own random place on) for `seconds`; `answered` says whether a reply counts.
LoadResult Load(const Running& target, const std::vector<Request>& requests, int kinds, int clients,
                double seconds,
                const std::function<bool(const Request&, const httplib::Result&)>& answered) {
    const int port = target.port;
    struct PerThread {
        std::vector<std::vector<double>> byKind;
        long long failures = 0;
    };
    std::vector<PerThread> results(static_cast<std::size_t>(clients));
    std::latch ready(clients + 1);
    std::atomic<bool> go{false};
    Clock::time_point until;
    std::vector<std::thread> threads;
    for (int t = 0; t < clients; ++t) {
        threads.emplace_back([&, t] {
            PerThread& mine = results[static_cast<std::size_t>(t)];
            mine.byKind.resize(static_cast<std::size_t>(kinds));
            auto client = Connect(port);
            std::size_t next =
                requests.size() / static_cast<std::size_t>(clients) * static_cast<std::size_t>(t);
            ready.count_down();
            while (!go.load()) std::this_thread::yield();
            while (Clock::now() < until) {
                const Request& request = requests[next++ % requests.size()];
                const auto sent = Clock::now();
                const httplib::Result result =
                    request.body.empty() ? client->Get(request.path)
                                         : client->Post(request.path, request.body,
                                                        "application/soap+xml; charset=utf-8");
                const double ms =
                    std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
                if (!answered(request, result)) ++mine.failures;
                mine.byKind[static_cast<std::size_t>(request.kind)].push_back(ms);
            }
        });
    }
    ready.arrive_and_wait();
    const double cpuBefore = target.service->CpuSeconds();
    const auto start = Clock::now();
    until =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    go = true;
    for (std::thread& thread : threads) thread.join();
    LoadResult load;
    load.seconds = Seconds(Clock::now() - start);
    load.serverCpuSeconds = target.service->CpuSeconds() - cpuBefore;
    load.byKind.resize(static_cast<std::size_t>(kinds));
    for (PerThread& mine : results) {
        load.failures += mine.failures;
        for (int k = 0; k < kinds; ++k) {
            auto& into = load.byKind[static_cast<std::size_t>(k)];
            auto& from = mine.byKind[static_cast<std::size_t>(k)];
            into.insert(into.end(), from.begin(), from.end());
        }
    }
    for (auto& kind : load.byKind) {
        std::sort(kind.begin(), kind.end());
        load.all.insert(load.all.end(), kind.begin(), kind.end());
        load.requests += static_cast<long long>(kind.size());
    }
    std::sort(load.all.begin(), load.all.end());
    return load;
}

std::string Query(const std::vector<std::pair<std::string, std::string>>& params) {
    std::string query;
    for (const auto& [name, value] : params)
        query +=
            (query.empty() ? "?" : "&") + name + "=" + httplib::detail::encode_query_param(value);
    return query;
}

enum SearchKind { TitleAndArtist, OneHangulWord, OneOtherWord, SearchKinds };
constexpr const char* SearchKindNames[] = {"title and artist", "one two-syllable Hangul word",
                                           "one other word"};

std::vector<Request> SearchRequests(const Catalogue& catalogue, std::mt19937_64& rng, int count) {
    std::vector<Request> requests;
    for (int i = 0; i < count; ++i) {
        const Song& song = catalogue.songs[rng() % catalogue.songs.size()];
        Request request;
        if (i % 3 == 2) {
            const std::string& word = song.titleWords[rng() % song.titleWords.size()];
            request.kind = IsTwoSyllableHangul(word) ? OneHangulWord : OneOtherWord;
            request.path = "/api/search" + Query({{"q", word}});
        } else {
            request.kind = TitleAndArtist;
            request.path = "/api/search" + Query({{"q", song.title + " " + song.artist}});
        }
        requests.push_back(std::move(request));
    }
    return requests;
}

std::vector<Request> GetRequests(const Catalogue& catalogue, std::mt19937_64& rng, int count) {
    std::vector<Request> requests;
    for (int i = 0; i < count; ++i) {
        const Song& song = catalogue.songs[rng() % catalogue.songs.size()];
        requests.push_back(
            {"/api/get" + Query({{"track_name", song.title}, {"artist_name", song.artist}}), "",
             0});
    }
    return requests;
}

bool Ok(const httplib::Result& result) {
    return result && result->status == 200;
}

// ---------------------------------------------------------------------------------------------
// One size's run

struct Probe {
    std::string what;
    long long matches = 0;  // songs whose title or artist hold it
    double medianMs = 0;
};

struct SizeResult {
    int songs = 0;
    int folders = 0;
    int bigFolderSongs = 0;
    std::uintmax_t catalogueBytes = 0;
    double buildSeconds = 0;
    double firstIndexSeconds = 0;
    double firstIndexCpuSeconds = 0;
    std::uintmax_t databaseBytes = 0;  // after the first index: the file, its log
    std::uintmax_t databaseAfterRestartBytes = 0;
    long peakKiB = 0;       // during the first index
    long idleKiB = 0;       // after a restart
    long afterLoadKiB = 0;  // after the search, get and SOAP load
    std::vector<double> restarts, restartCpu;
    std::vector<double> floorSeconds, floorCpu;  // listing and stat alone
    std::vector<double> additions;
    int additionsMissed = 0;
    LoadResult search, searchAlone;
    LoadResult get, getAlone;
    std::vector<Probe> probes;
    bool baseline = false;
    double baselineIndexSeconds = 0;
    long baselineKiB = 0;
    std::vector<double> soapNew, soapOld;            // requests per second
    std::vector<double> soapNewCpuMs, soapOldCpuMs;  // the service's CPU per request
    long long soapFailures = 0, soapOldFailures = 0;
};

std::vector<std::string> ServiceArgs(const Settings& settings, const Catalogue& catalogue,
                                     const fs::path& database) {
    return {settings.service, "--catalog",       catalogue.root.string(),
            "--database",     database.string(), "--listen",
            "127.0.0.1:0"};
}

// How long a single search for `q` takes, one at a time: the median of `times`.
double TimeSearch(int port, const std::string& q, int times) {
    auto client = Connect(port);
    const std::string path = "/api/search" + Query({{"q", q}});
    client->Get(path);  // the first pulls the pages in
    std::vector<double> spent;
    for (int i = 0; i < times; ++i) {
        const auto sent = Clock::now();
        if (!Ok(client->Get(path))) return -1;
        spent.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
    }
    return Median(spent);
}

// The songs whose title or artist hold a word that starts with `prefix` (a short search), or
// hold `text` anywhere (a long one).
long long CountMatches(const Catalogue& catalogue, const std::string& text, bool prefix) {
    long long count = 0;
    for (const Song& song : catalogue.songs) {
        bool found = false;
        for (const std::string* field : {&song.title, &song.artist}) {
            if (!prefix) {
                found |= field->find(text) != std::string::npos;
                continue;
            }
            std::stringstream words(*field);
            for (std::string word; !found && words >> word;) found = word.starts_with(text);
        }
        count += found ? 1 : 0;
    }
    return count;
}

void Note(const std::string& text) {
    std::printf("  %s\n", text.c_str());
    std::fflush(stdout);
}

SizeResult RunSize(int count, const Settings& settings, const Words& words, const fs::path& base) {
    SizeResult result;
    result.songs = count;
    const fs::path dir = base / ("n" + std::to_string(count));
    fs::create_directories(dir);
    std::printf("== %s songs\n", Grouped(count).c_str());
    std::fflush(stdout);

    Catalogue catalogue = BuildCatalogue(dir / "catalog", count, settings, words);
    result.folders = catalogue.folders;
    result.bigFolderSongs = catalogue.bigFolderSongs;
    result.catalogueBytes = catalogue.bytes;
    result.buildSeconds = catalogue.buildSeconds;
    Note("catalogue built in " + Fixed(catalogue.buildSeconds, 1) +
         " s: " + std::to_string(catalogue.folders) + " folders, " +
         Fixed(static_cast<double>(catalogue.bytes) / 1e6, 1) + " MB");

    // a. The first index.
    const fs::path database = dir / "lyricsd.sqlite";
    const fs::path log = dir / "lyricsd.log";
    Running running = Start(ServiceArgs(settings, catalogue, database), log, 4h);
    result.firstIndexSeconds = running.startSeconds;
    result.firstIndexCpuSeconds = running.startCpuSeconds;
    result.peakKiB = running.service->MemoryKiB("VmHWM");
    result.databaseBytes = FileSize(database) + FileSize(database.string() + "-wal");
    {
        std::ifstream in(log);
        for (std::string line; std::getline(in, line);)
            if (line.find(" indexed ") != std::string::npos) Note(line);
    }
    Note("first index " + Fixed(result.firstIndexSeconds, 2) + " s, database " +
         Fixed(static_cast<double>(result.databaseBytes) / 1e6, 1) + " MB, peak " +
         std::to_string(result.peakKiB / 1024) + " MiB");

    // b. Restarts over the unchanged catalogue.
    for (int i = 0; i < settings.restarts; ++i) {
        running.service.reset();  // SIGTERM, waited for
        const auto [floorSeconds, floorCpu] = ListAndStat(catalogue.root);
        result.floorSeconds.push_back(floorSeconds);
        result.floorCpu.push_back(floorCpu);
        running = Start(ServiceArgs(settings, catalogue, database), log, 10min);
        result.restarts.push_back(running.startSeconds);
        result.restartCpu.push_back(running.startCpuSeconds);
    }
    result.idleKiB = running.service->MemoryKiB("VmRSS");
    result.databaseAfterRestartBytes = FileSize(database) + FileSize(database.string() + "-wal");
    Note("restarts: " + Spread(result.restarts, 3, "s") + ", " +
         Spread(result.restartCpu, 3, "s of CPU") + "; listing and stat alone " +
         Spread(result.floorSeconds, 3, "s") + ", " + Spread(result.floorCpu, 3, "s of CPU"));

    // c. A new song until /api/get finds it.
    {
        auto client = Connect(running.port);
        std::mt19937_64 rng(settings.seed + 1);
        for (int i = 0; i < settings.additions; ++i) {
            Song song;
            song.title = "new arrival " + std::to_string(i) + " 새노래";
            song.artist = words.all[rng() % words.all.size()] + " 신인";
            // In turn the big folder and one of the ordinary ones.
            const fs::path folder =
                i % 2 == 0
                    ? catalogue.songs.front().mp3.parent_path()
                    : catalogue.songs[catalogue.songs.size() - 1 - rng() % 1000].mp3.parent_path();
            song.mp3 = folder / ("new-" + std::to_string(i) + ".mp3");
            const std::string path =
                "/api/get" + Query({{"track_name", song.title}, {"artist_name", song.artist}});
            const std::string lrc = MakeLrc(rng, words, song);
            const auto start = Clock::now();
            WriteSong(song, 900'000'000u + static_cast<std::uint32_t>(i), lrc);
            bool found = false;
            while (Clock::now() - start < 60s) {
                if (Ok(client->Get(path))) {
                    found = true;
                    break;
                }
                std::this_thread::sleep_for(10ms);
            }
            if (found)
                result.additions.push_back(Seconds(Clock::now() - start));
            else
                ++result.additionsMissed;
            std::this_thread::sleep_for(1500ms);  // the watcher quiet again
        }
        Note("new song found after " + Spread(result.additions, 2, "s") +
             (result.additionsMissed > 0 ? ", " + std::to_string(result.additionsMissed) + " never"
                                         : ""));
    }

    // d. The read API under load, and the most common words alone.
    {
        std::mt19937_64 rng(settings.seed + 2);
        const std::vector<Request> searches = SearchRequests(catalogue, rng, 60000);
        const auto searchFound = [](const Request&, const httplib::Result& reply) {
            // A song's own title and artist find it; a word of a title finds something.
            return Ok(reply) && reply->body.size() > 2;
        };
        const auto got = [](const Request&, const httplib::Result& reply) { return Ok(reply); };
        const auto report = [](const char* what, const LoadResult& load) {
            Note(std::string(what) + ": " + Fixed(load.PerSecond(), 0) + "/s, p50 " +
                 Fixed(Percentile(load.all, 50), 2) + " ms, p95 " +
                 Fixed(Percentile(load.all, 95), 2) + " ms, " + Fixed(load.CpuMsPerRequest(), 3) +
                 " ms of the service's CPU each, " + std::to_string(load.failures) + " failed");
        };
        // One client first: what a request costs without waiting for the others.
        const double aloneSeconds = std::min(5.0, settings.seconds / 4);
        result.searchAlone = Load(running, searches, SearchKinds, 1, aloneSeconds, searchFound);
        report("search, one client", result.searchAlone);
        result.search =
            Load(running, searches, SearchKinds, settings.clients, settings.seconds, searchFound);
        report("search", result.search);
        const std::vector<Request> gets = GetRequests(catalogue, rng, 60000);
        result.getAlone = Load(running, gets, 1, 1, aloneSeconds, got);
        report("get, one client", result.getAlone);
        result.get = Load(running, gets, 1, settings.clients, settings.seconds, got);
        report("get", result.get);

        // The word of the titles that most songs hold, of each kind, and searches of one
        // letter and one syllable, which match every word that starts with them.
        std::map<std::string, long long> uses;
        for (const Song& song : catalogue.songs) {
            std::set<std::string> once(song.titleWords.begin(), song.titleWords.end());
            for (const std::string& word : once) ++uses[word];
        }
        std::string commonest, commonestHangul;
        for (const auto& [word, n] : uses) {
            std::string& best = IsTwoSyllableHangul(word) ? commonestHangul : commonest;
            if (best.empty() || n > uses.at(best)) best = word;
        }
        for (const auto& [q, prefix] : std::vector<std::pair<std::string, bool>>{
                 {commonest, false}, {commonestHangul, true}, {"s", true}, {"사", true}}) {
            Probe probe;
            probe.what = q;
            probe.matches = CountMatches(catalogue, q, prefix);
            probe.medianMs = TimeSearch(running.port, q, 21);
            result.probes.push_back(probe);
            Note("search \"" + q + "\" alone: " + Fixed(probe.medianMs, 2) + " ms (" +
                 Grouped(probe.matches) + " songs hold it)");
        }
    }

    // e. GetLyric5 against this service and the earlier one, round by round.
    {
        std::mt19937_64 rng(settings.seed + 3);
        std::vector<Request> soap;
        quillon::AudioChecksummer checksummer;
        const std::string path = "/" + std::string(quillon::ServiceObjectPath);
        for (int i = 0; i < 2000; ++i) {
            const Song& song = catalogue.songs[rng() % catalogue.songs.size()];
            quillon::AudioChecksum sum{};
            if (checksummer.Compute(song.mp3, sum) != quillon::ChecksumStatus::Ok)
                throw std::runtime_error("no checksum for " + song.mp3.string());
            soap.push_back(
                {path, quillon::LyricQuery::BuildRequest(std::string_view(sum.data(), 32)), 0});
        }
        const auto found = [](const Request&, const httplib::Result& reply) {
            return Ok(reply) &&
                   reply->body.find("<GetLyric5Result>true</GetLyric5Result>") != std::string::npos;
        };
        std::optional<Running> old;
        if (settings.baseline != "none") {
            if (!fs::exists(settings.baseline)) {
                Note("no baseline at " + settings.baseline + ": SOAP against this service only");
            } else {
                old = Start({settings.baseline, "--catalog", catalogue.root.string(), "--listen",
                             "127.0.0.1:0"},
                            dir / "baseline.log", 4h);
                result.baseline = true;
                result.baselineIndexSeconds = old->startSeconds;
                Note("baseline indexed in " + Fixed(old->startSeconds, 2) + " s");
            }
        }
        for (int round = 0; round < settings.soapRounds; ++round) {
            for (int turn = 0; turn < 2; ++turn) {
                const bool oldTurn = (turn + round) % 2 == 1;
                if (oldTurn && !old) continue;
                const LoadResult load = Load(oldTurn ? *old : running, soap, 1, settings.clients,
                                             settings.soapSeconds, found);
                (oldTurn ? result.soapOld : result.soapNew).push_back(load.PerSecond());
                (oldTurn ? result.soapOldCpuMs : result.soapNewCpuMs)
                    .push_back(load.CpuMsPerRequest());
                (oldTurn ? result.soapOldFailures : result.soapFailures) += load.failures;
            }
        }
        if (old) result.baselineKiB = old->service->MemoryKiB("VmRSS");
        Note("GetLyric5: " + Spread(result.soapNew, 0, "/s") + ", " +
             Spread(result.soapNewCpuMs, 3, "ms of CPU each") +
             (old ? "; baseline " + Spread(result.soapOld, 0, "/s") + ", " +
                        Spread(result.soapOldCpuMs, 3, "ms of CPU each")
                  : ""));
    }
    result.afterLoadKiB = running.service->MemoryKiB("VmRSS");
    running.service.reset();
    return result;
}

// ---------------------------------------------------------------------------------------------
// The table

void PrintTable(const std::vector<SizeResult>& results, const Settings& settings) {
    std::vector<std::pair<std::string, std::vector<std::string>>> rows;
    const auto row = [&](const std::string& name,
                         const std::function<std::string(const SizeResult&)>& cell) {
        std::vector<std::string> cells;
        for (const SizeResult& r : results) cells.push_back(cell(r));
        rows.emplace_back(name, std::move(cells));
    };
    const auto ms = [](double v) { return Fixed(v, 2); };
    const auto mib = [](long kib) {
        return kib < 0 ? std::string("-") : Fixed(static_cast<double>(kib) / 1024, 1);
    };
    row("songs", [](const SizeResult& r) { return Grouped(r.songs); });
    row("folders (songs in the big one)", [](const SizeResult& r) {
        return std::to_string(r.folders) + " (" + Grouped(r.bigFolderSongs) + ")";
    });
    row("catalogue files, MB (built in s)", [](const SizeResult& r) {
        return Fixed(static_cast<double>(r.catalogueBytes) / 1e6, 1) + " (" +
               Fixed(r.buildSeconds, 1) + ")";
    });
    row("a. first index, s", [](const SizeResult& r) { return Fixed(r.firstIndexSeconds, 2); });
    row("   the service's CPU until then, s",
        [](const SizeResult& r) { return Fixed(r.firstIndexCpuSeconds, 2); });
    row("   songs indexed per second",
        [](const SizeResult& r) { return Fixed(r.songs / r.firstIndexSeconds, 0); });
    row("   database, MB (bytes per song)", [](const SizeResult& r) {
        return Fixed(static_cast<double>(r.databaseAfterRestartBytes) / 1e6, 1) + " (" +
               Grouped(static_cast<long long>(r.databaseAfterRestartBytes) / r.songs) + ")";
    });
    row("   peak memory during it, MiB", [&](const SizeResult& r) { return mib(r.peakKiB); });
    row("b. unchanged restart, s: median (min-max)",
        [](const SizeResult& r) { return Spread(r.restarts, 3, ""); });
    row("   the service's CPU until then, s",
        [](const SizeResult& r) { return Spread(r.restartCpu, 3, ""); });
    row("   listing and stat of every file alone, s",
        [](const SizeResult& r) { return Spread(r.floorSeconds, 3, ""); });
    row("   its CPU, s", [](const SizeResult& r) { return Spread(r.floorCpu, 3, ""); });
    row("   memory after the restart, MiB", [&](const SizeResult& r) { return mib(r.idleKiB); });
    row("c. new song until /api/get finds it, s", [](const SizeResult& r) {
        return Spread(r.additions, 2, "") +
               (r.additionsMissed > 0 ? " " + std::to_string(r.additionsMissed) + " missed" : "");
    });
    const auto percentiles = [&](const std::vector<double>& sorted) {
        return ms(Percentile(sorted, 50)) + " / " + ms(Percentile(sorted, 95)) + " / " +
               ms(Percentile(sorted, 99));
    };
    row("d. /api/search p50 / p95 / p99, ms",
        [&](const SizeResult& r) { return percentiles(r.search.all); });
    row("   /api/search requests per second (failed)", [](const SizeResult& r) {
        return Fixed(r.search.PerSecond(), 0) + " (" + std::to_string(r.search.failures) + ")";
    });
    row("   the service's CPU per search, ms",
        [](const SizeResult& r) { return Fixed(r.search.CpuMsPerRequest(), 3); });
    for (int k = 0; k < SearchKinds; ++k)
        row(std::string("   ") + SearchKindNames[k] + ", p50 / p95 / p99",
            [&, k](const SizeResult& r) {
                return percentiles(r.search.byKind[static_cast<std::size_t>(k)]) + " (" +
                       Grouped(static_cast<long long>(
                           r.search.byKind[static_cast<std::size_t>(k)].size())) +
                       ")";
            });
    row("   one client alone: p50 / p95 / p99", [&](const SizeResult& r) {
        return percentiles(r.searchAlone.all) + " (" + Fixed(r.searchAlone.PerSecond(), 0) + "/s)";
    });
    row("   /api/get p50 / p95 / p99, ms",
        [&](const SizeResult& r) { return percentiles(r.get.all); });
    row("   /api/get requests per second (failed)", [](const SizeResult& r) {
        return Fixed(r.get.PerSecond(), 0) + " (" + std::to_string(r.get.failures) + ")";
    });
    row("   the service's CPU per get, ms",
        [](const SizeResult& r) { return Fixed(r.get.CpuMsPerRequest(), 3); });
    row("   one client alone: p50 / p95 / p99", [&](const SizeResult& r) {
        return percentiles(r.getAlone.all) + " (" + Fixed(r.getAlone.PerSecond(), 0) + "/s)";
    });
    const std::size_t probes = results.empty() ? 0 : results.front().probes.size();
    for (std::size_t p = 0; p < probes; ++p)
        row("   one search alone, ms (songs holding it)" + std::string(p == 0 ? ":" : ""),
            [p](const SizeResult& r) {
                const Probe& probe = r.probes[p];
                return "\"" + probe.what + "\" " + Fixed(probe.medianMs, 2) +
                       (probe.matches >= 0 ? " (" + Grouped(probe.matches) + ")" : "");
            });
    row("e. GetLyric5 per second (failed)", [](const SizeResult& r) {
        return Spread(r.soapNew, 0, "") + " (" + std::to_string(r.soapFailures) + ")";
    });
    row("   the earlier in-memory service (failed)", [](const SizeResult& r) {
        return r.baseline
                   ? Spread(r.soapOld, 0, "") + " (" + std::to_string(r.soapOldFailures) + ")"
                   : std::string("-");
    });
    row("   the service's CPU per request, ms: this / earlier", [](const SizeResult& r) {
        return Fixed(Median(r.soapNewCpuMs), 3) + " / " +
               (r.baseline ? Fixed(Median(r.soapOldCpuMs), 3) : std::string("-"));
    });
    row("   ratio of the medians, this / earlier", [](const SizeResult& r) {
        return r.baseline && Median(r.soapOld) > 0 ? Fixed(Median(r.soapNew) / Median(r.soapOld), 2)
                                                   : std::string("-");
    });
    row("   earlier service: start (index), s", [](const SizeResult& r) {
        return r.baseline ? Fixed(r.baselineIndexSeconds, 2) : std::string("-");
    });
    row("   earlier service: memory, MiB",
        [&](const SizeResult& r) { return r.baseline ? mib(r.baselineKiB) : std::string("-"); });
    row("memory after the load, MiB", [&](const SizeResult& r) { return mib(r.afterLoadKiB); });

    std::size_t nameWidth = 0;
    std::vector<std::size_t> widths(results.size(), 0);
    const auto width = [](const std::string& text) {
        // Columns counted in characters: a Hangul syllable is three bytes and two columns.
        std::size_t columns = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const auto c = static_cast<unsigned char>(text[i]);
            if ((c & 0xC0) == 0x80) continue;
            columns += c >= 0xEA && c <= 0xED ? 2 : 1;
        }
        return columns;
    };
    for (const auto& [name, cells] : rows) {
        nameWidth = std::max(nameWidth, width(name));
        for (std::size_t i = 0; i < cells.size(); ++i)
            widths[i] = std::max(widths[i], width(cells[i]));
    }
    std::printf(
        "\nquillon-lyricsd catalogue, %d clients, %.0f s per API load, %d x %.0f s of SOAP "
        "per service\n\n",
        settings.clients, settings.seconds, settings.soapRounds, settings.soapSeconds);
    for (const auto& [name, cells] : rows) {
        std::string line = name + std::string(nameWidth - width(name), ' ');
        for (std::size_t i = 0; i < cells.size(); ++i)
            line += " | " + cells[i] + std::string(widths[i] - width(cells[i]), ' ');
        std::printf("%s\n", line.c_str());
    }
    std::printf(
        "\nGoals: restart <= 0.2 s (5,000) and 2 s (100,000); a new song found within 10 s;\n"
        "/api/search p95 <= 10 ms and /api/get p95 <= 5 ms (100,000); GetLyric5 no slower\n"
        "than the earlier service.\n");
}

// Enough free space under `dir` for the catalogues: two files of a block or two each a song,
// the database and the logs; false (and a message) when there is not.
bool EnoughSpace(const fs::path& dir, const Settings& settings) {
    struct statvfs info {};
    if (::statvfs(dir.c_str(), &info) != 0) return true;
    const double free = static_cast<double>(info.f_bavail) * static_cast<double>(info.f_frsize);
    const int largest = *std::max_element(settings.sizes.begin(), settings.sizes.end());
    const double need = largest * 20e3 + 200e6;
    std::printf("free under %s: %.1f GB; the largest catalogue needs about %.1f GB\n", dir.c_str(),
                free / 1e9, need / 1e9);
    if (free < need) {
        std::fprintf(stderr,
                     "lyricsd_bench: not enough free space under %s: %.1f GB free, "
                     "%.1f GB needed; set TMPDIR to a larger file system\n",
                     dir.c_str(), free / 1e9, need / 1e9);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    const std::optional<Settings> settings = ParseSettings(argc, argv);
    if (!settings) return 2;
    const char* tmp = std::getenv("TMPDIR");
    const fs::path tmpDir = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    if (!EnoughSpace(tmpDir, *settings)) return 1;
    std::string templ = (tmpDir / "quillon-lyricsdbench-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) {
        std::perror("lyricsd_bench: mkdtemp");
        return 1;
    }
    const fs::path base = templ;
    std::printf("working in %s\n", base.c_str());
    const Words words = MakeWords();
    std::vector<SizeResult> results;
    int status = 0;
    try {
        for (const int size : settings->sizes) {
            results.push_back(RunSize(size, *settings, words, base));
            PrintTable(results, *settings);
            // Removing many files takes long on some file systems: after the table.
            if (!settings->keep) {
                std::error_code error;
                fs::remove_all(base / ("n" + std::to_string(size)), error);
            }
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lyricsd_bench: %s\n", error.what());
        status = 1;
    }
    if (!settings->keep && status == 0) {
        std::error_code error;
        fs::remove_all(base, error);
    }
    return status;
}

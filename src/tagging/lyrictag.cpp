// The lyric inside the song's ID3v2 tag: TagLib renders the tag with the lyric frames, and the
// song's copy is that tag followed by the rest of the song as it was (what TagLib's own save
// writes, in one pass instead of a copy and an insertion), prepared beside the song by the safe
// write every file goes through, and put in place only when the song keeps its audio checksum.
// Read back for the command line and the lyrics service.
#include "tagging/lyrictag.h"

#include <optional>
#include <utility>

#include <id3v2header.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <synchronizedlyricsframe.h>
#include <tfilestream.h>
#include <unsynchronizedlyricsframe.h>

#include "audio/checksum.h"
#include "lyrics/lrcreader.h"
#include "pipeline/textwriter.h"
#include "text/textconv.h"

namespace quillon {

namespace {

namespace fs = std::filesystem;
using TagLib::ID3v2::SynchronizedLyricsFrame;
using TagLib::ID3v2::UnsynchronizedLyricsFrame;

std::u16string LfLines(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')) out += text[i];
    return out;
}

TagLib::String TagText(std::u16string_view text) {
    return TagLib::String(WideToUtf8(text), TagLib::String::UTF8);
}

std::u16string FromTag(const TagLib::String& text) {
    return Utf8ToWide(text.to8Bit(true));
}

// The song's tag with the lyric frames, rendered, and the size of the tag it takes the place
// of at the start of the song; empty, or why the tag cannot take them.
std::string TagWithLyrics(const fs::path& song, std::u16string_view text,
                          TagLib::ByteVector& rendered, std::uint64_t& replaced) {
    TagLib::FileStream stream(song.c_str(), true);
    TagLib::MPEG::File mpeg(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
    if (!mpeg.isValid()) return "TagLib이 파일을 읽지 못했습니다";
    const bool hadTag = mpeg.hasID3v2Tag();
    if (hadTag) {
        stream.seek(0);
        if (stream.readBlock(3) != TagLib::ByteVector("ID3", 3))
            return "ID3v2 태그가 파일 처음에 있지 않아 그대로 둡니다";
    }
    TagLib::ID3v2::Tag* tag = mpeg.ID3v2Tag(true);
    // A header TagLib cannot read (a size byte over 127) gives a tag of size 0: what follows it
    // would be left behind the new tag.
    if (hadTag && tag->header()->tagSize() == 0) return "ID3v2 태그 머리가 깨져 있어 그대로 둡니다";
    const unsigned version = hadTag ? tag->header()->majorVersion() : 4;
    if (version != 3 && version != 4)
        return "ID3v2." + std::to_string(version) + " 태그는 그대로 둡니다";
    const TagLib::String::Type encoding =
        version == 3 ? TagLib::String::UTF16 : TagLib::String::UTF8;

    // The language a lyric frame of the tag already names (one without a description first, as
    // ours are), else Korean.
    TagLib::ByteVector language("kor", 3);
    bool named = false;
    for (const bool plainOnly : {true, false}) {
        for (const char* id : {"USLT", "SYLT"}) {
            for (TagLib::ID3v2::Frame* frame : tag->frameList(id)) {
                TagLib::ByteVector its;
                bool plain = false;
                if (auto* uslt = dynamic_cast<UnsynchronizedLyricsFrame*>(frame)) {
                    its = uslt->language();
                    plain = uslt->description().isEmpty();
                }
                if (auto* sylt = dynamic_cast<SynchronizedLyricsFrame*>(frame)) {
                    its = sylt->language();
                    plain = sylt->description().isEmpty();
                }
                if (its.size() == 3 && !named && (plain || !plainOnly)) {
                    language = its;
                    named = true;
                }
            }
        }
    }
    // Frames of that language without a description give way; others stay.
    for (const char* id : {"USLT", "SYLT"}) {
        const TagLib::ID3v2::FrameList frames = tag->frameList(id);  // a copy: frames go below
        for (TagLib::ID3v2::Frame* frame : frames) {
            bool same = false;
            if (auto* uslt = dynamic_cast<UnsynchronizedLyricsFrame*>(frame))
                same = uslt->language() == language && uslt->description().isEmpty();
            if (auto* sylt = dynamic_cast<SynchronizedLyricsFrame*>(frame))
                same = sylt->language() == language && sylt->description().isEmpty();
            if (same) tag->removeFrame(frame);
        }
    }

    auto* uslt = new UnsynchronizedLyricsFrame(encoding);
    uslt->setLanguage(language);
    uslt->setText(TagText(text));
    tag->addFrame(uslt);
    auto* sylt = new SynchronizedLyricsFrame(encoding);
    sylt->setLanguage(language);
    sylt->setTimestampFormat(SynchronizedLyricsFrame::AbsoluteMilliseconds);
    sylt->setType(SynchronizedLyricsFrame::Lyrics);
    SynchronizedLyricsFrame::SynchedTextList entries;
    for (const TimedText& entry : TimedEntriesOf(text))
        entries.append(SynchronizedLyricsFrame::SynchedText(entry.ms, TagText(entry.text)));
    sylt->setSynchedText(entries);
    tag->addFrame(sylt);

    // Rendering sets the header to the new tag's size: the old one is taken first.
    replaced = hadTag ? tag->header()->completeTagSize() : 0;
    rendered = tag->render(version == 3 ? TagLib::ID3v2::v3 : TagLib::ID3v2::v4);
    if (rendered.isEmpty()) return "TagLib이 태그를 만들지 못했습니다";
    return {};
}

WriteResult Failed(std::string cause) {
    return {false, std::move(cause)};
}

}  // namespace

WriteResult EmbedLyrics(const fs::path& song, std::u16string_view lrcText,
                        std::string_view checksum) {
    AudioChecksummer checksummer;
    AudioChecksum before{};
    if (checksum.size() == 32) {
        checksum.copy(before.data(), 32);
    } else {
        const ChecksumStatus status = checksummer.Compute(song, before);
        if (status != ChecksumStatus::Ok) return Failed(ChecksumCause(checksummer, status));
    }

    // The song must be one this process could change in place: a read-only file stays.
    if (WriteResult replaceable = CheckReplaceable(song); !replaceable) return replaceable;

    TagLib::ByteVector tag;
    std::uint64_t replaced = 0;
    const std::string cause = TagWithLyrics(song, LfLines(lrcText), tag, replaced);
    if (!cause.empty()) return Failed(cause);

    PreparedFile copy = PrepareFile(song, [&](TextFile& file) {
        return file.Write(tag.data(), tag.size()) && file.AppendFrom(song, replaced);
    });
    if (!copy.result) return copy.result;

    // The service finds the song by its audio checksum: a tag that would change it stays out.
    AudioChecksum after{};
    if (checksummer.Compute(copy.temporary, after) != ChecksumStatus::Ok ||
        std::string_view(after.data(), 32) != std::string_view(before.data(), 32)) {
        DiscardPreparedFile(copy);
        return Failed("태그를 바꾸면 곡의 오디오 채크썸이 달라지므로 그대로 둡니다");
    }
    return CommitPreparedFile(copy);
}

EmbeddedLyrics ReadEmbeddedLyrics(const fs::path& song) {
    EmbeddedLyrics read;
    TagLib::MPEG::File mpeg(song.c_str(), false);
    if (!mpeg.isValid()) {
        read.cause = "TagLib이 파일을 읽지 못했습니다";
        return read;
    }
    if (!mpeg.hasID3v2Tag()) {
        read.cause = "ID3v2 태그가 없습니다";
        return read;
    }
    TagLib::ID3v2::Tag* tag = mpeg.ID3v2Tag();
    read.title = FromTag(tag->title());
    read.artist = FromTag(tag->artist());
    read.album = FromTag(tag->album());

    std::optional<std::u16string> untimed;
    for (TagLib::ID3v2::Frame* frame : tag->frameList("USLT")) {
        auto* uslt = dynamic_cast<UnsynchronizedLyricsFrame*>(frame);
        if (uslt == nullptr) continue;
        std::u16string text = LfLines(FromTag(uslt->text()));
        if (!TimedEntriesOf(text).empty()) {
            read.found = read.timed = true;
            read.lrc = std::move(text);
            return read;
        }
        if (!untimed) untimed = std::move(text);
    }
    for (TagLib::ID3v2::Frame* frame : tag->frameList("SYLT")) {
        auto* sylt = dynamic_cast<SynchronizedLyricsFrame*>(frame);
        if (sylt == nullptr ||
            sylt->timestampFormat() != SynchronizedLyricsFrame::AbsoluteMilliseconds)
            continue;
        std::vector<TimedText> entries;
        for (const auto& entry : sylt->synchedText())
            entries.push_back({entry.time, FromTag(entry.text)});
        if (entries.empty()) continue;
        read.found = read.timed = true;
        read.lrc = LrcLinesOf(entries);
        return read;
    }
    if (untimed) {
        read.found = true;
        read.lrc = std::move(*untimed);
    } else {
        read.cause = "태그에 가사가 없습니다";
    }
    return read;
}

}  // namespace quillon

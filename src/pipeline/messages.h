#pragma once

// The texts the user sees. "(%s%s)" stands for a file's base name and extension.
namespace quillon::text {

inline constexpr char16_t ChooseFile[] = u"가사를 가져올 음악 파일을 선택해 주세요.";
inline constexpr char16_t ChooseFolder[] = u"가사를 가져올 음악 파일이 있는 폴더를 선택해 주세요.";
inline constexpr char16_t InvalidFile[] = u"지정된 파일이 유효하지 않습니다.";
inline constexpr char16_t InvalidFolder[] = u"지정된 폴더가 유효하지 않습니다.";

inline constexpr char16_t ChecksumFailedTip[] = u"파일 채크썸 취득에 실패했습니다.";
inline constexpr char16_t ServerFailedTip[] = u"서버에서 가사 정보 취득에 실패했습니다.";
inline constexpr char16_t SaveFailedTip[] = u"가사 파일 저장에 실패했습니다.";

// The labels of title, singer and album, wherever the three are shown.
inline constexpr char16_t TitleLabel[] = u"제목: ";
inline constexpr char16_t ArtistLabel[] = u"가수: ";
inline constexpr char16_t AlbumLabel[] = u"앨범: ";

// Log rows of a folder run; each is followed by " (" name extension ")".
inline constexpr char16_t QueryStarted[] = u"가사 정보 취득 개시";
inline constexpr char16_t ChecksumFailed[] = u"파일 채크썸 취득 실패";
inline constexpr char16_t ServerFailed[] = u"서버에서 가사 정보 취득 실패";
inline constexpr char16_t LrcSaved[] = u"가사 파일 저장 완료";
inline constexpr char16_t LrcSaveFailed[] = u"가사 파일 저장 실패";
inline constexpr char16_t TagSaveFailed[] = u"태그에 가사 저장 실패";
inline constexpr char16_t FolderUnreadable[] = u"폴더를 읽을 수 없습니다";
// "ANSI 코드 페이지에 없는 문자 N자: UTF-16 Little Endian으로 저장 (NAME.lrc)"
inline constexpr char16_t AnsiLost[] = u"ANSI 코드 페이지에 없는 문자 ";
inline constexpr char16_t SavedAsUtf16[] = u"자: UTF-16 Little Endian으로 저장";
// "작업을 중지했습니다 (남은 곡 N곡)", the last row of a stopped run.
inline constexpr char16_t RunStopped[] = u"작업을 중지했습니다";
// A run the system made fail (no memory, no thread): with the system's words as its cause.
inline constexpr char16_t RunFailed[] = u"작업을 계속하지 못했습니다";
inline constexpr char16_t RunNotStarted[] = u"작업을 시작하지 못했습니다";

// The save command with ANSI chosen, when the code page lacks characters of the lyric: AnsiLost,
// their number, then this.
inline constexpr char16_t AnsiLossQuestionEnd[] =
    u"자가 '?'로 바뀌어 저장됩니다.\nUTF-16 Little Endian으로 대신 저장할까요?";

// The raw lyric view, when a file of its name is there already: "Song.txt".
inline constexpr char16_t ReplaceRawQuestion[] =
    u" 파일이 이미 있습니다.\n이 파일을 가사 원본으로 바꿀까요?\n(아니요: 원래 파일은 그대로 두고 "
    u"임시 폴더에 저장해서 엽니다)";
inline constexpr char16_t RawViewInTemporary[] = u"가사 원본을 임시 폴더에 저장했습니다";
inline constexpr char16_t RawViewFailed[] = u"가사 원본 파일을 저장하지 못했습니다";

// The settings dialog's refusals.
inline constexpr char16_t HostMissing[] = u"서비스 호스트를 입력해 주세요.";
inline constexpr char16_t HostInvalid[] = u"서비스 호스트에 쓸 수 없는 문자가 있습니다: ";
inline constexpr char16_t PortInvalid[] = u"포트는 1에서 65535 사이의 수여야 합니다.";
inline constexpr char16_t ConcurrencyInvalid[] =
    u"동시에 처리할 곡 수는 1에서 16 사이의 수여야 합니다.";

}  // namespace quillon::text

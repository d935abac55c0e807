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

}  // namespace quillon::text

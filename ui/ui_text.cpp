#include "ui/ui_text.h"

#include "manifest/manifest.h"

namespace {

// Rows in UiTextRow order, columns zh-TW, zh-CN, en, ko, ja.
const wchar_t* const kUiText[kUiTextRowCount][kLanguageCount] = {
    // InstallerTitle
    {L"補丁安裝", L"补丁安装", L"Patch Installer", L"패치 설치", L"パッチインストール"},
    // MessageCaption
    {L"安裝說明", L"安装说明", L"Message", L"설치 안내", L"インストール説明"},
    // GameFolderCaption
    {L"遊戲資料夾", L"游戏文件夹", L"Game folder", L"게임 폴더", L"ゲームフォルダー"},
    // BrowseCaption
    {L"選擇", L"选择", L"Browse", L"찾아보기", L"選択"},
    // InstallCaption
    {L"安裝補丁", L"安装补丁", L"Install Patch", L"패치 설치", L"パッチをインストール"},
    // CancelCaption
    {L"取消", L"取消", L"Cancel", L"취소", L"キャンセル"},
    // StatusChooseFolder
    {L"請選擇遊戲資料夾。", L"请选择游戏文件夹。", L"Choose the game folder.", L"게임 폴더를 선택하세요.",
     L"ゲームフォルダーを選択してください。"},
    // StatusInstalling
    {L"正在安裝補丁...", L"正在安装补丁...", L"Installing patch...", L"패치를 설치하는 중...",
     L"パッチをインストールしています..."},
    // StatusVerifying
    {L"正在驗證遊戲檔案...", L"正在验证游戏文件...", L"Verifying game files...", L"게임 파일을 확인하는 중...",
     L"ゲームファイルを確認しています..."},
    // StatusExtracting
    {L"正在解壓補丁資料...", L"正在解压补丁数据...", L"Extracting patch data...", L"패치 데이터를 압축 해제하는 중...",
     L"パッチデータを展開しています..."},
    // StatusInstalled
    {L"補丁安裝完成。", L"补丁安装完成。", L"Patch installed successfully.", L"패치 설치가 완료되었습니다.",
     L"パッチのインストールが完了しました。"},
    // StatusCaption
    {L"目前狀態", L"当前状态", L"Current status", L"현재 상태", L"現在の状態"},
    // InstallNote
    {L"※安裝約莫2~3分鐘，完成前請勿關閉程式以免安裝失敗", L"※安装约需2~3分钟，完成前请勿关闭程序，以免安装失败",
     L"※Installation takes about 2-3 minutes. Do not close this program before it finishes.",
     L"※설치는 약 2~3분 정도 걸립니다. 완료 전에는 설치 실패를 방지하기 위해 프로그램을 닫지 마세요.",
     L"※インストールには約2~3分かかります。完了するまでプログラムを閉じないでください。"},
    // ErrorNoFolder
    {L"請先選擇遊戲資料夾。", L"请先选择游戏文件夹。", L"Please choose the game folder first.",
     L"먼저 게임 폴더를 선택하세요.", L"先にゲームフォルダーを選択してください。"},
    // ErrorWrongFolder
    {L"指定遊戲目錄錯誤。", L"指定游戏目录错误。", L"The selected game folder is incorrect.",
     L"지정한 게임 폴더가 올바르지 않습니다.", L"指定されたゲームフォルダーが正しくありません。"},
    // ErrorNoPayload
    {L"找不到補丁資料檔。", L"找不到补丁数据文件。", L"Patch data file was not found.",
     L"패치 데이터 파일을 찾을 수 없습니다.", L"パッチデータファイルが見つかりません。"},
    // ErrorInstall
    {L"安裝過程發生錯誤。", L"安装过程中发生错误。", L"Install error.", L"설치 중 오류가 발생했습니다.",
     L"インストール中にエラーが発生しました。"},
    // InstallLogNote
    {L"詳細記錄於安裝記錄檔：", L"详细信息已记录在安装日志中：", L"Details are in the install log: ",
     L"자세한 내용은 설치 로그에 있습니다: ", L"詳細はインストールログに記録されています："},
    // ErrorDamagedPatch
    {L"修補程式的檔案已損毀或遭到竄改。請重新下載修補程式。", L"补丁文件已损坏或已被篡改。请重新下载补丁。",
     L"The patch files are damaged or have been altered. Please download the patch again.",
     L"패치 파일이 손상되었거나 변경되었습니다. 패치를 다시 다운로드해 주세요.",
     L"パッチのファイルが破損しているか、改変されています。パッチをもう一度ダウンロードしてください。"},
    // ErrorFolderBusy
    {L"此資料夾中正在進行另一個安裝。請等待其完成後再試一次。",
     L"此文件夹中正在进行另一个安装。请等待其完成后再试一次。",
     L"Another installation is running in this folder. Wait for it to finish, then try again.",
     L"이 폴더에서 다른 설치가 진행 중입니다. 완료될 때까지 기다린 후 다시 시도하세요.",
     L"このフォルダーでは別のインストールが実行中です。完了するまで待ってから、もう一度お試しください。"},
    // ErrorNotRestored
    {L"無法還原遊戲資料夾。請再次執行安裝程式以完成還原。", L"无法还原游戏文件夹。请再次运行安装程序以完成还原。",
     L"The game folder could not be restored. Run the installer again to finish restoring it.",
     L"게임 폴더를 복원하지 못했습니다. 설치 프로그램을 다시 실행하면 복원이 완료됩니다.",
     L"ゲームフォルダーを元に戻せませんでした。インストーラーをもう一度実行すると、復元が完了します。"},
    // ErrorOldVersion
    {L"此遊戲檔案不是此修補程式所更新的版本：它已被修改，或遊戲是其他版本。未安裝任何內容。檔案：",
     L"此游戏文件不是此补丁所更新的版本：它已被修改，或游戏是其他版本。未安装任何内容。文件：",
     L"This game file is not the version this patch updates: it was changed, or the game is another version. "
     L"Nothing was installed. File:",
     L"이 게임 파일은 이 패치가 업데이트하는 버전이 아닙니다. 파일이 변경되었거나 게임이 다른 버전입니다. "
     L"아무것도 설치되지 않았습니다. 파일:",
     L"このゲームファイルは、このパッチが更新するバージョンではありません。変更されたか、ゲームが別のバージョンです。"
     L"何もインストールされていません。ファイル:"},
};

}  // namespace

const wchar_t* UiText(UiTextRow row, int language) {
    return kUiText[static_cast<int>(row)][ValidLanguage(language)];
}

const wchar_t* UiText(UiTextRow row) {
    return UiText(row, gInstallLanguage);
}

std::wstring WindowTitleText() {
    std::wstring title = ManifestGet("WindowTitle");
    if (!title.empty()) return title;
    return UiText(UiTextRow::InstallerTitle);
}

std::wstring GreetingText() {
    std::wstring greeting = ManifestGet(GreetingKey(gInstallLanguage));
    if (!greeting.empty()) return greeting;
    greeting = ManifestGet("Greeting");
    if (!greeting.empty()) return greeting;
    return ManifestGet(GreetingKey(kFallbackLanguage));
}

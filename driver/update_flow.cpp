#include "driver/update_flow.h"

#include <cstring>

#include "driver/update_plan.h"
#include "platform/platform.h"

char InstallDir[PathBufferSize];
char TargetPath[PathBufferSize];

const char UpdateCaption[] = "Quellstorm update 1.04";
const char NotInstalledText[] = "Quellstormがインストールされていません。";
const char ExecutableMissingText[] = "Quellstorm.exeが見つかりません。";
const char ConfirmUpdateText[] = "Quellstormをバージョン1.04\nにアップデートします。\n書き換えてよろしいですか？";
const char UpdateFinishedText[] = "プログラムの更新が終了しました。";
const char CannotWriteText[] = "Quellstorm.exeに書き込みできません。";
const char DiskFullText[] =
    "書き込みに失敗しました。\nディスク領域が不足しています。\nディスクの空き領域を増やしてから、もう一度実行してください。";

namespace {

const char SettingsKey[] = "Software\\Vantor\\Quellstorm";
const char DataDirValue[] = "DataDir";

// Appends a backslash and `name` to the path in `path`. A path that would not
// fit is left as it was and the call returns false: nothing is ever cut short
// into a different path.
bool AppendPathComponent(char* path, const char* name) {
    const size_t length = std::strlen(path);
    const size_t name_length = std::strlen(name);
    if (length + 1 + name_length >= size_t(PathBufferSize)) return false;
    path[length] = '\\';
    std::memcpy(path + length + 1, name, name_length + 1);
    return true;
}

// Composes InstallDir, each of the entry's subdirectories (creating it) and its file name in TargetPath.
bool ComposeTargetPath(const UpdateEntry& entry) {
    std::memcpy(TargetPath, InstallDir, PathBufferSize);
    for (const char* subdir : entry.subdirs) {
        if (subdir == nullptr) break;
        if (!AppendPathComponent(TargetPath, subdir)) return false;
        PlatformMakeDirectory(TargetPath);
    }
    return AppendPathComponent(TargetPath, entry.file_name);
}

void ShowMessage(const char* text) { PlatformShowDialog(text, UpdateCaption, DialogMessage); }

// The closing message for a plan's result; a missing payload has been reported already.
const char* OutcomeText(ExtractResult result) {
    switch (result) {
    case ExtractOk: return UpdateFinishedText;
    case ExtractCannotCreate: return CannotWriteText;
    case ExtractShortWrite: return DiskFullText;
    case ExtractNoPayload: return nullptr;
    }
    return nullptr;
}

} // namespace

void ReadDataDir() {
    std::memset(InstallDir, 0, PathBufferSize);
    // A value that fills the whole buffer without a terminator cannot be taken
    // as a path without cutting it; it counts as absent.
    if (!PlatformReadUserSetting(SettingsKey, DataDirValue, InstallDir, PathBufferSize) ||
        std::memchr(InstallDir, 0, PathBufferSize) == nullptr)
        InstallDir[0] = '\0';
}

bool CheckInstallation(char* target_path, char* install_dir) {
    const size_t length = std::strlen(install_dir);
    if (length > 0 && install_dir[length - 1] == '\\') install_dir[length - 1] = '\0';
    std::memcpy(target_path, install_dir, PathBufferSize);
    // An executable whose path does not fit cannot be there.
    if (!AppendPathComponent(target_path, GameExecutableName)) return false;
    return PlatformPathExists(target_path);
}

ExtractResult ApplyUpdate() {
    for (const UpdateEntry& entry : UpdatePlan) {
        // A target path that does not fit could not be opened on Windows either.
        if (!ComposeTargetPath(entry)) return ExtractCannotCreate;
        const ExtractResult result = ExtractPayload(TargetPath, entry.payload_name);
        if (result != ExtractOk) return result;
    }
    return ExtractOk;
}

int RunUpdater() {
    ReadDataDir();
    if (InstallDir[0] == '\0') {
        ShowMessage(NotInstalledText);
        return 0;
    }
    if (!CheckInstallation(TargetPath, InstallDir)) {
        ShowMessage(ExecutableMissingText);
        return 0;
    }
    // Cancel, a closed box and a box that cannot be shown all leave every file as it was.
    if (PlatformShowDialog(ConfirmUpdateText, UpdateCaption, DialogQuestion) != DialogAnswerOk) return 0;
    if (const char* text = OutcomeText(ApplyUpdate())) ShowMessage(text);
    return 0;
}

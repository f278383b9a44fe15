#pragma once
// The patch definition that authors write by hand (TOML), read into plain records. Nothing here
// touches the files the definition names: checking them is the build's job.
//
//   language = "en"                    # install language: zh-TW, zh-CN, en, ko or ja
//   title = "My Patch"                 # window title (optional)
//   payload = "payload"                # folder whose files the patch writes into the game folder
//   from = "old"                       # optional: the game's previous version; the patch then
//                                      # carries only what changed, as deltas where they are smaller
//   removals = true                    # optional, with `from`: files of `from` that `payload`
//                                      # lacks are removed at install
//   compress = true                    # optional: entries compressed (implied by `from`)
//   [greeting]                         # optional; "all" is for every language without its own
//   all = "..."   en = "..."   ko = "..."
//   [game]                             # primary file record ([game2]: the alternate one)
//   file = "game/Game.exe"             # the author's copy: size and SHA-256 are taken from it
//   path = "bin/Game.exe"              # where it lies in the game folder (default: file's name)
//   [game.ko]                          # optional per-language variant: file and/or path
//   [[banner]]                         # up to three, shown in this order
//   mode = "Url" | "Asset" | "File"
//   source = "..."                     # Url: address; Asset: asset id; File: name beside the .exe
//   file = "banners/b.png"             # Asset: image to pack; File: image copied beside the .exe
//   link = "https://..."               # opened on a click (optional; http:// or https:// only)
//   [[asset]]                          # extra assets packed by id (optional)
//   id = 7   file = "art/x.png"
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/install_language.h"

// One file record or one language variant of it. Texts are UTF-8 as written in the definition.
struct FileRecordDef {
    std::string file;  // the author's copy, relative to the definition's folder; may be empty in a variant
    std::string path;  // RelativePath; empty means "the name of `file`"
};

struct LanguageVariantDef {
    int language = 0;
    FileRecordDef record;
};

struct GameRecordDef {
    bool present = false;
    FileRecordDef base;
    std::vector<LanguageVariantDef> variants;  // in language order
};

enum class BannerMode { Url, Asset, File };

struct BannerDef {
    BannerMode mode = BannerMode::File;
    std::string source;
    std::string file;
    std::string link;
};

struct AssetDef {
    int64_t id = 0;
    std::string file;
};

struct PatchDefinition {
    std::wstring baseDir;  // folder of the definition file: relative file names start here
    int language = 0;
    std::string title;
    std::optional<std::string> greetingAll;
    std::optional<std::string> greetings[kLanguageCount];
    GameRecordDef records[2];  // primary, alternate
    std::vector<BannerDef> banners;
    std::vector<AssetDef> assets;
    std::string payload;
    std::string from;
    bool removals = false;
    bool compress = false;
};

// Index 0..4 of a language code, -1 for anything else (letter case matters, as in the manifest).
int LanguageIndexOf(const std::string& code);

// Parses definition text. Every problem found is appended to `problems` as one line naming the
// item ("banner 2: mode 'Web' is not Url, Asset or File"); false when there was any.
bool ParseDefinition(const std::string& text, const std::wstring& baseDir, PatchDefinition& def,
                     std::vector<std::string>& problems);

// Reads and parses a definition file; `baseDir` becomes the file's folder.
bool LoadDefinition(const std::wstring& path, PatchDefinition& def, std::vector<std::string>& problems);

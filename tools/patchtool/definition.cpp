#include "tools/patchtool/definition.h"

#include <initializer_list>
#include <string_view>

#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>

#include "common/install_language.h"
#include "common/paths.h"
#include "platform/fs.h"
#include "platform/path_split.h"

namespace {

using Problems = std::vector<std::string>;

// Rejects keys the definition does not know, so a typo ("greting") is not silently ignored.
void CheckKeys(const toml::table& table, const std::string& where, std::initializer_list<std::string_view> known,
               Problems& problems) {
    for (auto&& [key, node] : table) {
        bool found = false;
        for (std::string_view k : known) found = found || key.str() == k;
        if (!found) problems.push_back(where + std::string(key.str()) + ": unknown item");
    }
}

// A string item; absent is fine (empty result), another type is a problem.
bool GetBool(const toml::table& table, const char* key, Problems& problems) {
    const toml::node* node = table.get(key);
    if (!node) return false;
    if (!node->is_boolean()) {
        problems.push_back(std::string(key) + ": must be true or false");
        return false;
    }
    return node->value_or(false);
}

std::string GetString(const toml::table& table, const char* key, const std::string& where, Problems& problems) {
    const toml::node* node = table.get(key);
    if (!node) return std::string();
    if (auto value = node->value_exact<std::string>()) return *value;
    problems.push_back(where + key + ": must be a text in quotes");
    return std::string();
}

void ParseFileRecord(const toml::table& table, const std::string& where, bool isVariant, FileRecordDef& record,
                     Problems& problems) {
    record.file = GetString(table, "file", where, problems);
    record.path = GetString(table, "path", where, problems);
    if (!isVariant && record.file.empty())
        problems.push_back(where + "file: missing (the author's copy of the game file)");
    if (isVariant && record.file.empty() && record.path.empty())
        problems.push_back(where.substr(0, where.size() - 1) + ": a language variant needs file or path");
}

void ParseGameRecord(const toml::table& root, const char* name, GameRecordDef& record, Problems& problems) {
    const toml::node* node = root.get(name);
    if (!node) return;
    const toml::table* table = node->as_table();
    std::string where = std::string(name) + ".";
    if (!table) {
        problems.push_back(std::string(name) + ": must be a table ([" + name + "])");
        return;
    }
    record.present = true;
    for (auto&& [key, value] : *table) {
        std::string k(key.str());
        if (k == "file" || k == "path") continue;
        int language = LanguageIndexOf(k);
        if (language < 0) {
            problems.push_back(where + k + ": unknown item (language variants are zh-TW, zh-CN, en, ko, ja)");
        } else if (!value.is_table()) {
            problems.push_back(where + k + ": a language variant must be a table ([" + where + k + "])");
        } else {
            LanguageVariantDef variant;
            variant.language = language;
            ParseFileRecord(*value.as_table(), where + k + ".", true, variant.record, problems);
            record.variants.push_back(variant);
        }
    }
    // Variants in language order, whatever order the author wrote them in.
    std::vector<LanguageVariantDef> sorted;
    for (int language = 0; language < kLanguageCount; ++language)
        for (const LanguageVariantDef& v : record.variants)
            if (v.language == language) sorted.push_back(v);
    record.variants = sorted;
    ParseFileRecord(*table, where, false, record.base, problems);
}

void ParseGreetings(const toml::table& root, PatchDefinition& def, Problems& problems) {
    const toml::node* node = root.get("greeting");
    if (!node) return;
    if (auto text = node->value_exact<std::string>()) {
        def.greetingAll = *text;
        return;
    }
    const toml::table* table = node->as_table();
    if (!table) {
        problems.push_back("greeting: must be a text or a table of languages");
        return;
    }
    for (auto&& [key, value] : *table) {
        std::string k(key.str());
        auto text = value.value_exact<std::string>();
        int language = LanguageIndexOf(k);
        if (k != "all" && language < 0) {
            problems.push_back("greeting." + k + ": not one of the five languages (zh-TW, zh-CN, en, ko, ja) or all");
        } else if (!text) {
            problems.push_back("greeting." + k + ": must be a text in quotes");
        } else if (k == "all") {
            def.greetingAll = *text;
        } else {
            def.greetings[language] = *text;
        }
    }
}

bool ParseMode(const std::string& text, BannerMode& mode) {
    if (text == "Url")
        mode = BannerMode::Url;
    else if (text == "Asset")
        mode = BannerMode::Asset;
    else if (text == "File")
        mode = BannerMode::File;
    else
        return false;
    return true;
}

void ParseBanners(const toml::table& root, PatchDefinition& def, Problems& problems) {
    const toml::node* node = root.get("banner");
    if (!node) return;
    const toml::array* array = node->as_array();
    if (!array || !array->is_array_of_tables()) {
        problems.push_back("banner: must be a list of tables ([[banner]])");
        return;
    }
    for (size_t i = 0; i < array->size(); ++i) {
        const toml::table& table = *array->get(i)->as_table();
        std::string where = "banner " + std::to_string(i + 1) + ": ";
        CheckKeys(table, where, {"mode", "source", "file", "link"}, problems);
        BannerDef banner;
        std::string mode = GetString(table, "mode", where, problems);
        if (!ParseMode(mode, banner.mode)) problems.push_back(where + "mode '" + mode + "' is not Url, Asset or File");
        if (const toml::node* source = table.get("source"); source && source->is_integer())
            banner.source = std::to_string(source->value_exact<int64_t>().value_or(0));
        else
            banner.source = GetString(table, "source", where, problems);
        banner.file = GetString(table, "file", where, problems);
        banner.link = GetString(table, "link", where, problems);
        def.banners.push_back(banner);
    }
}

void ParseAssets(const toml::table& root, PatchDefinition& def, Problems& problems) {
    const toml::node* node = root.get("asset");
    if (!node) return;
    const toml::array* array = node->as_array();
    if (!array || !array->is_array_of_tables()) {
        problems.push_back("asset: must be a list of tables ([[asset]])");
        return;
    }
    for (size_t i = 0; i < array->size(); ++i) {
        const toml::table& table = *array->get(i)->as_table();
        std::string where = "asset " + std::to_string(i + 1) + ": ";
        CheckKeys(table, where, {"id", "file"}, problems);
        AssetDef asset;
        auto id = table.get("id") ? table.get("id")->value_exact<int64_t>() : std::nullopt;
        if (!id) problems.push_back(where + "id: missing or not a whole number");
        asset.id = id.value_or(0);
        asset.file = GetString(table, "file", where, problems);
        if (asset.file.empty()) problems.push_back(where + "file: missing");
        def.assets.push_back(asset);
    }
}

std::wstring FolderOf(const std::wstring& path) {
    size_t slash = platform::LastPathSeparator(path);
    return slash == std::wstring::npos ? std::wstring(L".") : path.substr(0, slash);
}

}  // namespace

int LanguageIndexOf(const std::string& code) {
    for (int language = 0; language < kLanguageCount; ++language)
        if (code == LanguageCode(language)) return language;
    return -1;
}

bool ParseDefinition(const std::string& text, const std::wstring& baseDir, PatchDefinition& def,
                     std::vector<std::string>& problems) {
    size_t before = problems.size();
    def = PatchDefinition();
    def.baseDir = baseDir;
    toml::parse_result parsed = toml::parse(std::string_view(text));
    if (!parsed) {
        const toml::parse_error& error = parsed.error();
        problems.push_back("line " + std::to_string(error.source().begin.line) + ": " +
                           std::string(error.description()));
        return false;
    }
    const toml::table& root = parsed.table();
    CheckKeys(root, "",
              {"language", "title", "payload", "from", "removals", "compress", "greeting", "game", "game2", "banner",
               "asset"},
              problems);
    std::string language = GetString(root, "language", "", problems);
    def.language = LanguageIndexOf(language);
    if (def.language < 0) problems.push_back("language: '" + language + "' is not one of zh-TW, zh-CN, en, ko, ja");
    def.title = GetString(root, "title", "", problems);
    def.payload = GetString(root, "payload", "", problems);
    if (def.payload.empty()) problems.push_back("payload: missing (the folder whose files the patch writes)");
    def.from = GetString(root, "from", "", problems);
    def.removals = GetBool(root, "removals", problems);
    def.compress = GetBool(root, "compress", problems);
    if (def.removals && def.from.empty()) problems.push_back("removals: needs `from`, the version whose files go");
    ParseGreetings(root, def, problems);
    ParseGameRecord(root, "game", def.records[0], problems);
    ParseGameRecord(root, "game2", def.records[1], problems);
    if (!def.records[0].present) problems.push_back("game: missing (the file that identifies the game folder)");
    ParseBanners(root, def, problems);
    ParseAssets(root, def, problems);
    return problems.size() == before;
}

bool LoadDefinition(const std::wstring& path, PatchDefinition& def, std::vector<std::string>& problems) {
    platform::File file;
    std::string text;
    if (!file.OpenRead(path, platform::Share::All)) {
        problems.push_back("cannot open the definition file");
        return false;
    }
    char buffer[65536];
    for (;;) {
        size_t got = 0;
        if (!file.Read(buffer, sizeof buffer, got)) {
            problems.push_back("cannot read the definition file");
            return false;
        }
        text.append(buffer, got);
        if (got < sizeof buffer) break;
    }
    return ParseDefinition(text, FolderOf(path), def, problems);
}

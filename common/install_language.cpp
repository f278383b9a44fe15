#include "common/install_language.h"

int gInstallLanguage = kFallbackLanguage;

namespace {

const char* const kLanguageCodes[kLanguageCount] = {"zh-TW", "zh-CN", "en", "ko", "ja"};
const char* const kGreetingKeys[kLanguageCount] = {"Greeting.zh-TW", "Greeting.zh-CN", "Greeting.en", "Greeting.ko",
                                                   "Greeting.ja"};

}  // namespace

int ValidLanguage(int language) {
    return language >= 0 && language < kLanguageCount ? language : kFallbackLanguage;
}

const char* LanguageCode(int language) {
    return kLanguageCodes[ValidLanguage(language)];
}

const char* GreetingKey(int language) {
    return kGreetingKeys[ValidLanguage(language)];
}

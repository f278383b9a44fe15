#pragma once
// The install language: which column of every localized table the installer uses. A leaf below the
// manifest, so that the manifest's localized lookups and the authors' tool need no user interface.

// Languages by index: 0 zh-TW (also the fallback), 1 zh-CN, 2 en, 3 ko, 4 ja.
constexpr int kLanguageCount = 5;
constexpr int kFallbackLanguage = 0;
// The one language whose long button captions may switch to the small font.
constexpr int kJapaneseLanguage = 4;

// Settled once at start-up by SettleInstallLanguage and never changed afterwards.
extern int gInstallLanguage;

// `language` when it is 0..4, else the fallback.
int ValidLanguage(int language);

const char* LanguageCode(int language);  // "zh-TW", "zh-CN", "en", "ko", "ja"
const char* GreetingKey(int language);   // "Greeting." + LanguageCode

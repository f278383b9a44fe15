#pragma once
#include <string>
bool VerifyFileRecord(const std::wstring& gameFolder, const std::string& suffix);

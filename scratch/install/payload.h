#pragma once
#include <string>
bool ExtractPayload(const std::wstring& archivePath, const std::wstring& gameFolder);

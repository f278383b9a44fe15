#pragma once
// Which banner links a click may open. Kept apart from the banner list so that patchtool can hold
// a patch to the same rule without taking in the installer's banner state.
#include <string>

// Whether a click may open `link`: only an http:// or https:// address (scheme in any ASCII case)
// with something after the scheme and no blank, quote or control character. Anything else, a local
// program, a file: address, a \\host\share path or another protocol, makes the banner behave as
// one without a link. The banner view asks this for its cursor and its click, patchtool when it
// builds and inspects a patch.
bool IsOpenableLink(const std::wstring& link);

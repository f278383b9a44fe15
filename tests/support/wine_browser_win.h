#pragma once
// Windows build only: where a web link opened through the shell goes under Wine.

namespace test {

// Wine hands http and https links to the Unix program named in HKCU\Software\Wine\WineBrowser;
// naming curl makes a link to a test's own 127.0.0.1 server show up there as a request. Internet
// shortcuts (.url) that the shell opens take the same road. False when the key cannot be written.
bool RouteWebLinksToCurl();

}  // namespace test

#pragma once
// The end-to-end scenarios; each returns true when every one of its checks passed.
#include <string>

namespace e2e {

bool IconResource();
bool LoadingWindow();
bool ReadyWindow(int language);
bool BannersShiftTheLayout();
bool BannersFromThreeSources();
bool OneBannerNeverSlides();
bool SilentBannerServerOnlyDelays();
bool HostileBanners();
bool BrowseCancel(int language);
bool BrowsePick();

bool NoFolder();
bool NoPayload(const std::string& variant);  // "no-manifest", "empty-manifest", "no-payload", "payload-dir"
bool WrongFolder();
bool InstallError();
bool InstallSucceeds(int language, bool emptyPayload);
bool InstallIntoParentFolder();
bool CloseEndsProcess(const std::string& how);  // "cancel" or "close-box"
bool NoDllFromAppFolder();
bool InstallKeepsAnswering(bool banners);  // a long install, with or without banners
// A second installer on a folder an install is working in gets the busy box; the first finishes.
bool SecondInstallerIsTurnedAway();
// An install whose undo fails says so; run again, it finishes the undo and installs.
bool FailedUndoIsTold();
// A delta patch installs through the window; with the gamer's old file changed, its own box.
bool DeltaPatch(bool oldFileChanged);
bool ManifestResource();
// A stamped installer: a good signed patch installs; each altered data file is refused at
// start-up; an entry altered after start-up is refused at install time.
bool SignedInstall();
bool SignedTamperRefused();
bool SignedPayloadAltered();

// Starts the installer where it lies, installs into `gameFolder` and saves screenshots on the way.
bool DriveDemo(const std::wstring& gameFolder);

}  // namespace e2e

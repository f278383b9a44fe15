#pragma once
/* The key slot of PatchInstaller.exe: one RCDATA resource holding a marker and then the
   publisher's public key (X || Y, 64 bytes), all zero in the installer as built, which means "not
   stamped". `patchtool stamp` finds the marker in a copy of the executable and fills the key in;
   the installer reads the resource and checks signed patches only when the key is not all zero.
   Plain macros, because the resource script includes this file too. Program code other than
   patchtool's must not use the marker, so that it occurs only once in the installer. */
#define KEY_SLOT_RESOURCE 201
#define KEY_SLOT_MARKER "PTKEYSLOT1-P256:"
#define KEY_SLOT_MARKER_SIZE 16
#define KEY_SLOT_KEY_SIZE 64

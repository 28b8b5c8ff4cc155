// Which GPU is which: what ties a device in EGL's list to nvidia-smi's and
// CUDA's numberings (its PCI address, from sysfs, and its UUID), and the
// --device forms that name a device by them.
#ifndef QUARN_EGL_IDENTITY_H
#define QUARN_EGL_IDENTITY_H

#include <string>
#include <string_view>

#include "egl_common.h"

namespace quarn_egl {

// The PCI address of the device behind a DRM device file, in lower-case
// DDDD:BB:DD.F, as sysfs links it; "" where it names no PCI device (vgem,
// an on-chip GPU) or there is no such file.
std::string pci_address(const std::string& deviceFile);

// A device UUID's 16 bytes as xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx.
std::string uuid_text(const unsigned char* bytes);

// Whether an identity form names the display: egl:N, pci:ADDR (nvidia-smi's
// 00000000:3B:00.0, lspci's 0000:3b:00.0 or 3b:00.0), cuda:N, or
// uuid:UUID (with or without nvidia-smi's GPU- prefix), in any case.
bool identity_names(std::string_view form, const Display& display);

}  // namespace quarn_egl

#endif  // QUARN_EGL_IDENTITY_H

#include "egl_identity.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <optional>
#include <tuple>

namespace quarn_egl {

namespace {

std::string lower(std::string_view text) {
  std::string lowered(text);
  std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return lowered;
}

// A number in the base, of at least one digit and at most `most`, and all
// of the text: no sign, blank or prefix.
std::optional<unsigned long> number(std::string_view text, int base,
                                    std::size_t most) {
  unsigned long value = 0;
  const char* const end = text.data() + text.size();
  if (text.empty() || text.size() > most ||
      std::from_chars(text.data(), end, value, base).ptr != end) {
    return std::nullopt;
  }
  return value;
}

using PciAddress =
    std::tuple<unsigned long, unsigned long, unsigned long, unsigned long>;

// A PCI address as sysfs, lspci or nvidia-smi writes it: a domain of up to
// eight hex digits (none: 0), then bus, device and function.
std::optional<PciAddress> parse_pci(std::string_view text) {
  const std::size_t dot = text.rfind('.');
  const std::size_t last = text.rfind(':', dot);
  if (dot == std::string_view::npos || last == std::string_view::npos) {
    return std::nullopt;
  }
  const std::size_t first = text.rfind(':', last - (last > 0));
  const bool domain = first != std::string_view::npos && first < last;
  const auto hex = [&](std::size_t from, std::size_t to, std::size_t most) {
    return number(text.substr(from, to - from), 16, most);
  };
  const auto d = domain ? hex(0, first, 8) : std::optional<unsigned long>(0);
  const auto b = hex(domain ? first + 1 : 0, last, 2);
  const auto s = hex(last + 1, dot, 2);
  const auto f = hex(dot + 1, text.size(), 1);
  if (!d || !b || !s || !f || *s > 0x1f || *f > 7) return std::nullopt;
  return PciAddress{*d, *b, *s, *f};
}

}  // namespace

std::string pci_address(const std::string& deviceFile) {
  const std::string name = sysfs_link_name(deviceFile, "device");
  // sysfs names a PCI device DDDD:BB:DD.F, with a domain of four or more
  // digits; other buses' names may look alike (a serial port's 00:00:0.0).
  const auto address = parse_pci(name);
  const std::size_t size = name.size();
  if (!address || size < 12 || name[size - 2] != '.' || name[size - 5] != ':' ||
      name[size - 8] != ':') {
    return "";
  }
  char text[32];
  std::snprintf(text, sizeof text, "%04lx:%02lx:%02lx.%lx",
                std::get<0>(*address), std::get<1>(*address),
                std::get<2>(*address), std::get<3>(*address));
  return text;
}

std::string uuid_text(const unsigned char* bytes) {
  std::string text;
  for (int i = 0; i < 16; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += pair;
  }
  return text;
}

bool identity_names(std::string_view form, const Display& display) {
  const std::string lowered = lower(form);
  const std::string_view text = lowered;
  const auto value =
      [&](std::string_view key) -> std::optional<std::string_view> {
    if (!text.starts_with(key)) return std::nullopt;
    return text.substr(key.size());
  };
  if (const auto egl = value("egl:")) {
    return display.egl >= 0 &&
           number(*egl, 10, 9) == static_cast<unsigned long>(display.egl);
  }
  if (const auto cuda = value("cuda:")) {
    return display.cuda >= 0 &&
           number(*cuda, 10, 9) == static_cast<unsigned long>(display.cuda);
  }
  if (const auto pci = value("pci:")) {
    const auto wanted = parse_pci(*pci);
    return wanted && !display.pci.empty() && parse_pci(display.pci) == wanted;
  }
  if (auto uuid = value("uuid:")) {
    if (uuid->starts_with("gpu-")) uuid->remove_prefix(4);
    return !display.uuid.empty() && *uuid == display.uuid;
  }
  return false;
}

}  // namespace quarn_egl

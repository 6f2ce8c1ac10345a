// mediahost list: the registered filters as the registry holds them: name, CLSID, merit,
// library, and each pin with its media types.
#include <cstdio>
#include <string>

#include "cehost/text.h"
#include "command.h"
#include "filter_registration.h"
#include "objbase.h"
#include "setup.h"
#include "uuids.h"

namespace mediahost {
namespace {

std::string GuidText(const GUID& guid) {
  WCHAR text[40];
  StringFromGUID2(guid, text, 40);
  return cehost::ToUtf8(text);
}

struct KnownGuid {
  const GUID* guid;
  const char* name;
};

const KnownGuid kMajorTypes[] = {
    {&MEDIATYPE_Audio, "Audio"}, {&MEDIATYPE_Video, "Video"}, {&MEDIATYPE_Text, "Text"}, {&MEDIATYPE_Stream, "Stream"}};
const KnownGuid kSubtypes[] = {
    {&MEDIASUBTYPE_PCM, "PCM"},         {&MEDIASUBTYPE_IEEE_FLOAT, "IEEE float"},
    {&MEDIASUBTYPE_DOLBY_AC3, "AC-3"},  {&MEDIASUBTYPE_WMAUDIO2, "WMA version 2"},
    {&MEDIASUBTYPE_RGB565, "RGB565"},   {&MEDIASUBTYPE_RGB24, "RGB24"},
    {&MEDIASUBTYPE_RGB32, "RGB32"},     {&MEDIASUBTYPE_WAVE, "WAVE"}};

// A readable name: "any" for the null GUID, the known names, a printable FourCC in quotes,
// else the GUID's text.
std::string Describe(const GUID& guid, const KnownGuid* known, size_t count) {
  if (guid == GUID_NULL) return "any";
  for (size_t i = 0; i < count; i++)
    if (guid == *known[i].guid) return known[i].name;
  if (const DWORD fourcc = FOURCCMap::FourCCOf(guid)) {
    std::string text;
    for (int i = 0; i < 4; i++) {
      const char c = static_cast<char>(fourcc >> (8 * i));
      if (c < 0x20 || c > 0x7E) return GuidText(guid);
      text += c;
    }
    return "'" + text + "' " + GuidText(guid);
  }
  return GuidText(guid);
}

const char* MeritName(DWORD merit) {
  switch (merit) {
    case MERIT_PREFERRED:
      return " (preferred)";
    case MERIT_NORMAL:
      return " (normal)";
    case MERIT_UNLIKELY:
      return " (unlikely)";
    case MERIT_DO_NOT_USE:
      return " (do not use)";
    default:
      return "";
  }
}

void Print(const cehost::dshow::RegisteredFilter& f) {
  std::printf("%s\n", cehost::ToUtf8(f.name).c_str());
  std::printf("  CLSID   %s\n", GuidText(f.clsid).c_str());
  std::printf("  merit   0x%08X%s\n", static_cast<unsigned>(f.merit), MeritName(f.merit));
  if (f.modulePath.empty())
    std::printf("  library (no COM registration)\n");
  else
    std::printf("  library %s (threading model %s)\n", cehost::ToUtf8(f.modulePath).c_str(),
                f.threadingModel.empty() ? "none" : cehost::ToUtf8(f.threadingModel).c_str());
  for (const cehost::dshow::RegisteredPin& pin : f.pins) {
    std::string flags;
    if (pin.rendered) flags += ", rendered";
    if (pin.zero) flags += ", optional";
    if (pin.many) flags += ", many";
    std::string connects;
    if (pin.connectsToFilter != GUID_NULL) connects += " to filter " + GuidText(pin.connectsToFilter);
    if (!pin.connectsToPin.empty()) connects += " to pin \"" + cehost::ToUtf8(pin.connectsToPin) + "\"";
    std::printf("  pin \"%s\": %s%s%s%s\n", cehost::ToUtf8(pin.name).c_str(), pin.output ? "output" : "input",
                flags.c_str(), connects.empty() ? "" : ", connects", connects.c_str());
    for (const cehost::dshow::RegisteredPinType& type : pin.types)
      std::printf("    %s / %s\n", Describe(type.majorType, kMajorTypes, std::size(kMajorTypes)).c_str(),
                  Describe(type.subType, kSubtypes, std::size(kSubtypes)).c_str());
  }
}

}  // namespace

int RunList(const Command& self, const std::vector<std::string>& args) {
  if (!args.empty()) return UsageError(self, "unexpected argument '" + args[0] + "'");
  std::vector<cehost::dshow::RegisteredFilter> filters;
  std::u16string bad;
  const HRESULT hr = cehost::dshow::ReadFilterRegistrations(&filters, &bad);
  if (FAILED(hr)) {
    if (!bad.empty())
      std::fprintf(stderr, "mediahost list: the registration of %s is damaged\n", cehost::ToUtf8(bad).c_str());
    else
      std::fprintf(stderr, "mediahost list: cannot read the registry (0x%08X)\n", static_cast<unsigned>(hr));
    return kExitFailure;
  }
  if (filters.empty()) {
    std::printf("no filters registered\n");
    return 0;
  }
  for (size_t i = 0; i < filters.size(); i++) {
    if (i) std::printf("\n");
    Print(filters[i]);
  }
  return 0;
}

}  // namespace mediahost

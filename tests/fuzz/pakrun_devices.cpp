// The device search of the setup runner against device databases whose hardware-ID
// properties are any bytes: lists without their terminators, odd and huge sizes, lists
// that change between the size query and the read, failing reads. Each ID looked up goes
// through FindPresentDevice, ApplyDriverRegList (from a settings file that lists it) and
// RemoveDeviceByHardwareId. A model of the documented walk (every device in order, every
// non-empty entry within the size reported, the property read again while it grows)
// predicts each result; checked: the results, that only the device predicted (one that
// holds the ID) is removed, that the driver key changed is the predicted device's, no
// read outside a buffer (AddressSanitizer), and nothing left open.
//
// Input: a device count, then per device a flag byte (present, removal fails, property
// missing, read error, driver key, huge, changes, class), its list bytes, the lists it
// changes into, its driver key name; then up to three IDs, each a literal text or an
// entry (or a prefix, or the entry in other letter case) taken from a device's list.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "pakrun/device_lists.h"
#include "pakrun/device_search.h"
#include "platform/devices.h"
#include "platform/profile.h"
#include "platform/sim/standins/standins.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr char kSettings[] = "C:\\Setup\\Pakrun.ini";
constexpr char kInstaller[] = "C:\\WINDOWS\\System32\\rundll32.exe";
constexpr char kClassRoot[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\";
constexpr std::size_t kHugeSize = 70000;
constexpr std::size_t kDriverCapacity = 260;  // the driver key name's buffer, MAX_PATH
constexpr DWORD kReadErrors[] = {ERROR_INVALID_DATA, ERROR_INSUFFICIENT_BUFFER,
                                 ERROR_NO_SUCH_DEVINST, ERROR_GEN_FAILURE};

Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A hardware-ID list and its entries as the walk reads them: from the start, each up to
// its zero or the end of the list, until an empty one. Found once per list: a list of
// 70,000 bytes may hold 35,000 entries, and every walk of the model looks at them.
struct List {
  explicit List(Bytes listBytes) : bytes(std::move(listBytes)) {
    const char* text = reinterpret_cast<const char*>(bytes.data());
    const std::size_t size = bytes.size();
    std::size_t at = 0;
    while (at < size && text[at] != 0) {
      std::size_t end = at + 1;
      while (end < size && text[end] != 0) ++end;
      entries.emplace_back(static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(end - at));
      at = end + 1;
    }
  }
  Bytes bytes;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;  // start, length
};

// Shows `visit` the entries of a list in order. Stops at the first entry for which `visit`
// returns true and says whether there was one.
template <class Visit>
bool AnyEntry(const List& list, Visit visit) {
  const char* text = reinterpret_cast<const char*>(list.bytes.data());
  for (const auto& [start, length] : list.entries) {
    if (visit(std::string_view(text + start, length))) return true;
  }
  return false;
}

bool Same(std::string_view a, const std::string& b, bool ignoreCase) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (ignoreCase) {
      if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
      if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    }
    if (x != y) return false;
  }
  return true;
}

// What the model knows of each device: the versions its property goes through (the first
// served first; none when the property is missing) and which of them a read served.
struct Model {
  bool present;
  bool removeFails;
  DWORD readError;
  std::vector<List> versions;
  std::optional<std::string> driver;
  std::size_t next = 0;       // the version the next read serves
  std::vector<bool> served;   // per version
  bool removed = false;

  // The list the machine will serve next; null when the property is missing.
  const List* Next() const { return versions.empty() ? nullptr : &versions[next]; }
};

enum class ReadResult { kRead, kNoIds, kFailed };

// The hardware-ID read loop: no buffer first, then one of the size reported, until the
// list fits; each read takes the next scripted change. The list is looked at where the
// model keeps it: it may be 70 KB, read a few times per walk.
ReadResult Read(Model& device, const List** list) {
  if (device.readError != 0)
    return device.readError == ERROR_INVALID_DATA ? ReadResult::kNoIds : ReadResult::kFailed;
  if (device.versions.empty()) return ReadResult::kNoIds;
  std::size_t buffer = 0;
  for (;;) {
    const List& served = device.versions[device.next];
    device.served[device.next] = true;
    if (device.next + 1 < device.versions.size()) ++device.next;
    if (served.bytes.size() <= buffer) {
      *list = &served;
      return ReadResult::kRead;
    }
    buffer = served.bytes.size();
  }
}

constexpr int kGoOn = -1;

template <class OnMatch>
int Walk(std::vector<Model>& devices, bool presentOnly, const std::string& id, bool ignoreCase,
         OnMatch onMatch) {
  for (std::size_t d = 0; d < devices.size(); ++d) {
    Model& device = devices[d];
    if (device.removed || (presentOnly && !device.present)) continue;
    const List* list = nullptr;
    ReadResult read = Read(device, &list);
    if (read == ReadResult::kNoIds) continue;
    if (read == ReadResult::kFailed) return 0;
    int result = kGoOn;
    if (AnyEntry(*list, [&](std::string_view entry) {
          if (Same(entry, id, ignoreCase)) result = onMatch(d);
          return result != kGoOn;
        }))
      return result;
  }
  return 0;
}

bool EverHeld(const Model& device, const std::string& id) {
  for (std::size_t v = 0; v < device.versions.size(); ++v) {
    if (device.served[v] &&
        AnyEntry(device.versions[v], [&id](std::string_view entry) { return entry == id; }))
      return true;
  }
  return false;
}

// A text for the settings file: one line, no blanks at its ends, not in matching quotes.
bool FitsOneLine(const std::string& id) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  // A loop, not find_first_of, which calls memchr (and its interceptor) per byte.
  for (char c : id) {
    if (c == '\r' || c == '\n') return false;
  }
  if (!id.empty() && (blank(id.front()) || blank(id.back()))) return false;
  return id.size() < 2 || !((id.front() == '"' || id.front() == '\'') && id.back() == id.front());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input input(data, size);
  sim::Machine m;
  m.kernel.environment["TEMP"] = "C:\\TEMP";
  m.kernel.environment["SystemRoot"] = "C:\\WINDOWS";
  m.files.AddDirectory("C:\\TEMP");
  m.files.AddDirectory("C:\\WINDOWS\\System32");
  std::vector<std::string> installed;
  m.programs.Add(kInstaller, [&installed](sim::Machine& machine, const std::string& line) {
    installed.push_back(machine.files.Read(line.substr(line.rfind(' ') + 1)).value_or("<missing>"));
    return sim::InfInstaller()(machine, line);
  });

  std::vector<Model> models;
  const unsigned count = input.Choice(7);
  for (unsigned d = 0; d < count; ++d) {
    const std::uint8_t flags = input.Byte();
    Bytes list = BytesOf(input.Text());
    if ((flags & 0x20) != 0 && !list.empty()) {
      // The list over and over, to the first whole copy at or past kHugeSize bytes; built
      // by doubling, then cut back to that copy.
      const std::size_t copies = (kHugeSize + list.size() - 1) / list.size();
      Bytes huge = list;
      while (huge.size() < copies * list.size()) {
        const Bytes half = huge;
        huge.insert(huge.end(), half.begin(), half.end());
      }
      huge.resize(copies * list.size());
      list = std::move(huge);
    }
    std::vector<Bytes> later;
    if ((flags & 0x40) != 0) {
      for (unsigned n = 1 + input.Choice(3); n > 0; --n) later.push_back(BytesOf(input.Text()));
    }
    DWORD readError = (flags & 0x08) != 0 ? kReadErrors[input.Choice(4)] : 0;
    std::optional<std::string> driver;
    if ((flags & 0x10) != 0) driver = input.Text();

    sim::Device& device =
        m.devices.Add("PCI\\VEN_1D4A&DEV_0302\\" + std::to_string(d), {}, (flags & 0x01) != 0);
    device.removeFails = (flags & 0x02) != 0;
    device.hardwareIdError = readError;
    if ((flags & 0x04) != 0) {
      device.hardwareIds.reset();
    } else {
      device.hardwareIds = list;
    }
    device.hardwareIdsLater.assign(later.begin(), later.end());
    device.driver = driver;
    if ((flags & 0x80) != 0) device.classGuid = "{4D36E96C-E325-11CE-BFC1-08002BE10318}";
    Model model{device.present, device.removeFails, readError, {}, driver, 0, {}};
    if (device.hardwareIds) {
      model.versions.emplace_back(std::move(list));
      for (Bytes& version : later) model.versions.emplace_back(std::move(version));
    }
    model.served.assign(model.versions.size(), false);
    models.push_back(std::move(model));
  }

  for (unsigned query = 0; query < 3 && !input.Empty(); ++query) {
    // The ID: a literal, or an entry of a device's list, whole, as a prefix, or in the
    // other letter case.
    std::string id;
    const std::uint8_t how = input.Byte();
    if ((how & 3) == 0 || models.empty()) {
      id = input.Text();
    } else {
      const Model& source = models[input.Choice(static_cast<unsigned>(models.size()))];
      unsigned entries = 0;
      const List* ids = source.Next();
      if (ids != nullptr) {
        AnyEntry(*ids, [&entries](std::string_view) {
          ++entries;
          return false;
        });
      }
      if (entries > 0) {
        unsigned chosen = input.Choice(entries);
        AnyEntry(*ids, [&chosen, &id](std::string_view entry) {
          if (chosen-- != 0) return false;
          id = std::string(entry);
          return true;
        });
      }
      if ((how & 3) == 2 && !id.empty()) id.pop_back();
      if ((how & 3) == 3) {
        for (char& c : id) {
          if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
          else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
        }
      }
    }
    id = id.substr(0, id.find('\0'));

    // Find: a present device in the version it serves now.
    int expected = Walk(models, true, id, false, [](std::size_t) { return 1; });
    int found = FindPresentDevice(id.c_str());
    FUZZ_TRACE("find %s: %d", fuzz::Shown(id).c_str(), found);
    FUZZ_CHECK(found == expected, "FindPresentDevice(%s) = %d, expected %d",
               fuzz::Shown(id).c_str(), found, expected);

    // The driver-key change, from a settings file that lists the ID once.
    if (FitsOneLine(id)) {
      m.files.Put(kSettings,
                  "[DRIVERREG]\r\nNIC=1\r\nDEV1=" + id + "\r\n[DRIVERREG_" + id +
                      "_XP]\r\nADDREG=1\r\nADDREG1_ENTRYNAME=Fuzz\r\nADDREG1_FLAGS=0x00010001\r\n"
                      "ADDREG1_VALUE=1\r\n");
      char readBack[1024] = {};
      DWORD length = GetPrivateProfileStringA("DRIVERREG", "DEV1", "DEFAULT_ID", readBack,
                                              sizeof readBack, kSettings);
      const std::string listed = readBack;
      const bool sectionFound = GetPrivateProfileIntA(("DRIVERREG_" + listed + "_XP").c_str(),
                                                      "ADDREG", 0, kSettings) == 1;
      std::optional<std::string> classKey;
      if (length < sizeof readBack - 1 && listed.size() + 13 < sizeof readBack) {
        Walk(models, true, listed, true, [&models, &classKey](std::size_t d) {
          const std::optional<std::string>& driver = models[d].driver;
          if (!driver || driver->size() + 1 > kDriverCapacity - 1) return 0;
          std::string name = driver->substr(0, driver->find('\0'));
          if (name.empty() || std::string(kClassRoot).size() + name.size() >= kDriverCapacity)
            return 0;
          classKey = kClassRoot + name;
          return 1;
        });
      }
      const std::size_t before = installed.size();
      ApplyDriverRegList(kSettings, "_XP");
      FUZZ_TRACE("driver key of %s: %s", fuzz::Shown(listed).c_str(),
                  installed.size() > before ? fuzz::Shown(installed.back()).c_str() : "none");
      const std::size_t expectedInfs = classKey && sectionFound ? 1 : 0;
      FUZZ_CHECK(installed.size() - before == expectedInfs, "%zu driver INFs for %s, expected %zu",
                 installed.size() - before, fuzz::Shown(listed).c_str(), expectedInfs);
      if (expectedInfs == 1) {
        // As the text-mode stream stores it: a line feed in the key name too gets its CR.
        std::string row;
        for (char c : "HKLM, \"" + *classKey + "\",\"Fuzz\",0x00010001,1\n")
          row += c == '\n' ? std::string("\r\n") : std::string(1, c);
        FUZZ_CHECK(installed.back().find(row) != std::string::npos,
                   "the driver INF holds\n%s\nnot\n%s", fuzz::Shown(installed.back()).c_str(),
                   fuzz::Shown(row).c_str());
      }
    }

    // Remove: the first device, present or not, whose removal succeeds.
    std::optional<std::size_t> predicted;
    expected = Walk(models, false, id, false, [&models, &predicted](std::size_t d) {
      if (models[d].removeFails) return kGoOn;
      models[d].removed = true;
      predicted = d;
      return 1;
    });
    int removed = RemoveDeviceByHardwareId(id.c_str());
    FUZZ_TRACE("remove %s: %d", fuzz::Shown(id).c_str(), removed);
    FUZZ_CHECK(removed == expected, "RemoveDeviceByHardwareId(%s) = %d, expected %d",
               fuzz::Shown(id).c_str(), removed, expected);
    for (std::size_t d = 0; d < models.size(); ++d) {
      FUZZ_CHECK(m.devices.devices[d].removed == models[d].removed, "device %zu %s removed", d,
                 models[d].removed ? "not" : "wrongly");
    }
    if (predicted) {
      FUZZ_CHECK(EverHeld(models[*predicted], id), "device %zu removed without holding %s",
                 *predicted, fuzz::Shown(id).c_str());
    }
  }

  fuzz::ExpectClean(m);
  for (const auto& arguments : m.ArgumentsOf("SetupDiGetClassDevsExA")) {
    FUZZ_CHECK(arguments.at("machine") == "local", "devices of another machine were listed");
  }
  return 0;
}

// The vendor radio library stood in for inside the process: its objects answer from the
// machine's radio state, and every control option set is recorded.
#include <deque>
#include <string>

#include "vendor/radioapi/radioapi.h"
#include "platform/sim/machine.h"

namespace sim {
namespace {

RadioAdapterState* AdapterAt(std::size_t index) {
  auto& adapters = Current().radio.adapters;
  return index < adapters.size() ? &adapters[index] : nullptr;
}

class SimControl final : public RadioControl {
 public:
  explicit SimControl(std::size_t index) : index_(index) {}
  std::int32_t SetControlOption(std::int32_t option) override {
    Machine& m = Current();
    m.Count("SetControlOption");
    RadioAdapterState* adapter = AdapterAt(index_);
    std::string name = adapter == nullptr ? "?" : adapter->name;
    m.radio.options.emplace_back(name, option);
    m.Log(Event::On("SetControlOption", name, std::to_string(option)).WithNumber(option));
    return 0;
  }

 private:
  std::size_t index_;
};

class SimAdapter final : public RadioAdapter {
 public:
  explicit SimAdapter(std::size_t index) : index_(index), control_(index) {}
  std::int32_t QueryAdapterCode(std::int32_t* code) override {
    Machine& m = Current();
    m.Count("QueryAdapterCode");
    RadioAdapterState* adapter = AdapterAt(index_);
    if (adapter == nullptr || code == nullptr) return 1;
    *code = adapter->code;
    return 0;
  }
  std::int32_t GetAdapterControl(RadioControl** control, std::int32_t) override {
    Machine& m = Current();
    m.Count("GetAdapterControl");
    RadioAdapterState* adapter = AdapterAt(index_);
    if (adapter == nullptr || control == nullptr || adapter->controlFails) return 1;
    *control = adapter->controlYieldsNull ? nullptr : &control_;
    return 0;
  }

 private:
  std::size_t index_;
  SimControl control_;
};

// Objects live for the whole test program; they hold an index, never machine state.
SimAdapter& AdapterObject(std::size_t index) {
  static std::deque<SimAdapter> objects;
  while (objects.size() <= index) objects.emplace_back(objects.size());
  return objects[index];
}

class SimList final : public RadioAdapterList {
 public:
  std::int32_t GetAdapterCount(std::uint32_t* count) override {
    Machine& m = Current();
    m.Count("GetAdapterCount");
    if (count == nullptr) return 1;
    if (m.radio.countLeftUnfilled) return 0;
    *count = m.radio.reportedCount >= 0 ? static_cast<std::uint32_t>(m.radio.reportedCount)
                                        : static_cast<std::uint32_t>(m.radio.adapters.size());
    return 0;
  }
  std::int32_t GetAdapter(std::uint32_t index, RadioAdapter** adapter) override {
    Machine& m = Current();
    m.Count("GetAdapter");
    m.Log(Event::Count("GetAdapter", index));
    RadioAdapterState* state = AdapterAt(index);
    if (state == nullptr || adapter == nullptr || state->lookupFails) return 1;
    *adapter = state->lookupYieldsNull ? nullptr : &AdapterObject(index);
    return 0;
  }
};

class SimRadioAPI final : public RadioAPI {
 public:
  RadioAdapterList* GetAdapterList(std::int32_t) override {
    Machine& m = Current();
    m.Count("GetAdapterList");
    return m.radio.listMissing ? nullptr : &list_;
  }

 private:
  SimList list_;
};

}  // namespace
}  // namespace sim

extern "C" RadioAPI* RadioLoadAPI(void*) {
  static sim::SimRadioAPI api;
  sim::Machine& m = sim::Current();
  m.Count("RadioLoadAPI");
  m.Log(sim::Event::Plain("RadioLoadAPI"));
  return &api;
}

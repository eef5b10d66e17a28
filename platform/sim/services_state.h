// The substitute machine's service control manager: installed services whose state
// changes follow a script that a test sets.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace sim {

class Machine;

struct Service {
  std::string name;
  std::uint32_t state = 1;  // SERVICE_STOPPED
  // Its start type is automatic: it runs after a restart. Add() sets it for a service
  // seeded running, and leaves a service seeded in any other state to start on demand.
  bool startsWithSystem = false;

  // Script. A start (stop) request leaves the service start (stop) pending for this many
  // status queries before it reaches running (stopped); -1 keeps it pending for ever.
  int startPendingPolls = 0;
  int stopPendingPolls = 0;
  bool refuseStart = false;       // StartServiceA fails, state unchanged
  bool refuseStop = false;        // the stop control fails (dependent services running)
  bool queryFails = false;        // every status query fails
  int queriesBeforeFailing = -1;  // after this many status queries, every one fails
  std::uint32_t deniedAccess = 0;  // OpenServiceA asking for any of these rights fails
  // Runs whenever the service reaches the running state (what a real service reads at
  // start-up can be captured here).
  std::function<void()> onRunning;

  // Record: every access mask OpenServiceA asked for, in order.
  std::vector<std::uint32_t> openedWith;
  int starts = 0;  // times it reached running
  int stops = 0;   // times it reached stopped
  int queries = 0;  // status queries answered or refused

  // Polls left in the current pending state; a pending state seeded by a test (-1)
  // stays as it is.
  int pendingLeft = -1;
};

class ServiceManager {
 public:
  bool available = true;  // false: OpenSCManagerA fails
  std::vector<std::uint32_t> managerOpenedWith;

  Service& Add(const std::string& name, std::uint32_t state);
  Service* Find(const std::string& name);
  const std::map<std::string, Service>& All() const { return services_; }

  // The process that asked for a start or a stop has ended: the service control manager
  // still completes each pending one (one left pending for ever by a test's script stays).
  void CompletePending(Machine& m);
  // The machine restarted: each service runs or not as its start type says.
  void Restart(Machine& m);

 private:
  std::map<std::string, Service> services_;
};

}  // namespace sim

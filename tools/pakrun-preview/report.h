// The plan as text for a reader and as JSON for a program, and what differs between the
// plans of several Windows versions.
#pragma once

#include <string>
#include <vector>

#include "tools/pakrun-preview/plan.h"

namespace preview {

// A step or warning that not every previewed version has, with the versions that do.
struct Difference {
  bool isStep = true;
  Step step;
  Warning warning;
  std::vector<std::string> versions;
};

std::vector<Difference> Differences(const std::vector<Plan>& plans);

// One line that tells a step apart from any other (its kind and every text it carries).
std::string StepSignature(const Step& step);

std::string TextReport(const std::vector<Plan>& plans, const std::string& settingsFile);
// One plan: an object with "machine", "steps", "notes" and "warnings". Several: one such
// object per version under its name, and "differences".
std::string JsonReport(const std::vector<Plan>& plans, const std::string& settingsFile);
// The warnings as a SARIF 2.1.0 log: every check a rule, each warning a result (one for all
// the versions that give it) whose file is a URI relative to `workingFolder` where it lies
// within it. A silenced warning is a result with its suppression, "external" when its id
// is among `disabled` (--disable), else "inSource".
std::string SarifReport(const std::vector<Plan>& plans, const std::vector<std::string>& disabled,
                        const std::string& workingFolder);
// The warnings as a SARIF 2.1.0 log: every check a rule, each warning a result (one for all
// the versions that give it) whose file is a URI relative to `workingFolder` where it lies
// within it. A silenced warning is a result with its suppression, "external" when its id
// is among `disabled` (--disable), else "inSource".
std::string SarifReport(const std::vector<Plan>& plans, const std::vector<std::string>& disabled,
                        const std::string& workingFolder);

}  // namespace preview

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

}  // namespace preview

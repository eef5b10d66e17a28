// The warnings as a SARIF 2.1.0 log, the form code-scanning services read: one run of the
// tool, its rules (every check of the registry) and one result per warning.
#include <algorithm>
#include <filesystem>
#include <map>

#include "tools/pakrun-preview/checks.h"
#include "tools/pakrun-preview/escape.h"
#include "tools/pakrun-preview/report.h"

#ifndef PREVIEW_VERSION
#error "PREVIEW_VERSION (the project's version) is set by the build"
#endif

namespace preview {

namespace {

// The file a warning points into as a URI: relative to the working folder when it lies
// within it (a build's checkout), else an absolute file URI.
std::string ArtifactUri(const std::string& file, const std::filesystem::path& workingFolder) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::path absolute = fs::absolute(fs::u8path(file), error);
  if (error) absolute = fs::u8path(file);
  absolute = absolute.lexically_normal();
  const fs::path relative = absolute.lexically_relative(workingFolder.lexically_normal());
  if (!relative.empty() && relative.is_relative() && *relative.begin() != "..")
    return escape::UriPath(relative.generic_u8string());
  const std::string generic = absolute.generic_u8string();  // "/home/a/x.ini" or "C:/a/x.ini"
  if (generic.size() >= 2 && generic[1] == ':') return "file:///" + generic.substr(0, 2) + escape::UriPath(generic.substr(2));
  return "file://" + escape::UriPath(generic);
}

Json Text(const std::string& bytes) { return Json{{"text", escape::JsonString(bytes)}}; }

}  // namespace

std::string SarifReport(const std::vector<Plan>& plans, const std::vector<std::string>& disabled,
                        const std::string& workingFolder) {
  Json rules = Json::array();
  std::map<std::string, std::size_t> ruleIndex;
  for (const CheckInfo& check : AllChecks()) {
    ruleIndex[check.id] = rules.size();
    rules.push_back(Json{
        {"id", check.id},
        {"shortDescription", Text(check.title)},
        {"help", Text(std::string(check.title) + ": what Pakrun does, why it is a trap and how to fix it are in " +
                      "section " + check.id + " of the tool's manual (pakrun-preview.md, beside the tool).")}});
  }

  // A warning every previewed version gives is one result; the versions that give it are
  // in its property bag.
  Json results = Json::array();
  std::map<std::string, std::size_t> resultOf;
  const std::filesystem::path folder = std::filesystem::u8path(workingFolder);
  for (const Plan& plan : plans) {
    for (const Warning& warning : plan.warnings) {
      const std::string key = warning.id + '\n' + warning.file + '\n' + std::to_string(warning.line) + ':' +
                              std::to_string(warning.column) + '\n' + warning.message;
      auto [at, added] = resultOf.emplace(key, results.size());
      if (!added) {
        results[at->second]["properties"]["windows"].push_back(plan.machine.windows);
        continue;
      }
      Json result = Json::object();
      result["ruleId"] = warning.id;
      auto rule = ruleIndex.find(warning.id);
      if (rule != ruleIndex.end()) result["ruleIndex"] = rule->second;
      result["level"] = "warning";
      result["message"] = Text(warning.message);
      const Json region{{"startLine", warning.line < 1 ? 1 : warning.line},
                        {"startColumn", warning.column < 1 ? 1 : warning.column}};
      result["locations"] = Json::array(
          {Json{{"physicalLocation", Json{{"artifactLocation", Json{{"uri", ArtifactUri(warning.file, folder)}}},
                                          {"region", region}}}}});
      if (warning.suppressed) {
        // Silenced from the command line (--disable) or by a comment in the file.
        const bool external = std::find(disabled.begin(), disabled.end(), warning.id) != disabled.end();
        result["suppressions"] = Json::array({Json{{"kind", external ? "external" : "inSource"}}});
      }
      result["properties"] = Json{{"windows", Json::array({plan.machine.windows})}};
      results.push_back(std::move(result));
    }
  }

  Json driver{{"name", "pakrun-preview"}, {"version", PREVIEW_VERSION}, {"rules", std::move(rules)}};
  Json run{{"tool", Json{{"driver", std::move(driver)}}}, {"results", std::move(results)}};
  Json log{{"version", "2.1.0"}, {"runs", Json::array({std::move(run)})}};
  return escape::JsonText(log) + "\n";
}

}  // namespace preview

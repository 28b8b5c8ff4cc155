// The extension query against the two techniques other toolkits use, on the
// list Mesa's software renderer advertises (mesa_llvmpipe_extensions.txt):
// every advertised name in turn, and as many names that are not advertised.
// Prints, after the usual table, each technique's time as a ratio to strstr.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "quarn.h"
#include "scripted_gl.h"

namespace {

const char* extension_list() {
  return reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
}

// The classic technique: strstr, then a check of both boundaries.
GLboolean strstr_query(const char* name) {
  const char* list = extension_list();
  const std::size_t length = std::strlen(name);
  if (list == nullptr || length == 0) return GL_FALSE;
  for (const char* from = list;;) {
    const char* where = std::strstr(from, name);
    if (where == nullptr) return GL_FALSE;
    const char after = where[length];
    if ((where == list || where[-1] == ' ') &&
        (after == ' ' || after == '\0')) {
      return GL_TRUE;
    }
    from = where + length;
  }
}

// A plain token walk, one strcspn per token.
GLboolean strcspn_query(const char* name) {
  const char* list = extension_list();
  if (list == nullptr) return GL_FALSE;
  const char* end = list + std::strlen(list);
  const std::size_t length = std::strlen(name);
  for (const char* p = list; p < end;) {
    const std::size_t n = std::strcspn(p, " ");
    if (n == length && std::memcmp(p, name, n) == 0) return GL_TRUE;
    p += n + 1;
  }
  return GL_FALSE;
}

std::string g_list;
std::vector<std::string> g_advertised;
std::vector<std::string> g_notAdvertised;

// Loads the captured list and derives the two sets of names. A name one
// byte short of an advertised one is a near miss that strstr must reject
// at a boundary; those that are advertised themselves (GL_ARB_occlusion_query
// of GL_ARB_occlusion_query2, say) are left out.
void load_names(const char* path) {
  std::ifstream file(path, std::ios::binary);
  g_list.assign(std::istreambuf_iterator<char>(file), {});
  std::istringstream words(g_list);
  for (std::string name; words >> name;) g_advertised.push_back(name);
  const std::set<std::string> advertised(g_advertised.begin(),
                                         g_advertised.end());
  for (const std::string& name : g_advertised) {
    const std::string shorter = name.substr(0, name.size() - 1);
    if (advertised.count(shorter) == 0) g_notAdvertised.push_back(shorter);
  }
}

using Query = GLboolean (*)(const char*);

void run_queries(benchmark::State& state, Query query,
                 const std::vector<std::string>& names) {
  for (auto _ : state) {
    for (const std::string& name : names) {
      benchmark::DoNotOptimize(query(name.c_str()));
    }
  }
  state.SetItemsProcessed(state.iterations() *
                          static_cast<std::int64_t>(names.size()));
}

// Each technique on each set of names, as TECHNIQUE_SET. Repeated, and the
// median kept, since one run on a shared machine is noisy.
void register_benchmarks() {
  const std::pair<const char*, Query> techniques[] = {
      {"quarn", query_gl_extension},
      {"strstr", strstr_query},
      {"strcspn", strcspn_query}};
  const std::pair<const char*, const std::vector<std::string>*> sets[] = {
      {"advertised", &g_advertised}, {"not_advertised", &g_notAdvertised}};
  for (const auto& [set, names] : sets) {
    for (const auto& [technique, query] : techniques) {
      const std::string name = std::string(technique) + "_" + set;
      benchmark::RegisterBenchmark(
          name.c_str(),
          [query = query, names = names](benchmark::State& state) {
            run_queries(state, query, *names);
          })
          ->Repetitions(7)
          ->ReportAggregatesOnly(true);
    }
  }
}

// The console table, and each benchmark's time kept for the ratios: the
// median of its repetitions, where it has them.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const bool median =
          run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (median || !times_.count(run.run_name.function_name)) {
        times_[run.run_name.function_name] = run.GetAdjustedCPUTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void PrintRatios() const {
    for (const char* set : {"advertised", "not_advertised"}) {
      const double strstrTime = time_of("strstr_", set);
      if (strstrTime <= 0) continue;
      std::printf("%-15s quarn/strstr %.2f   strcspn/strstr %.2f\n", set,
                  time_of("quarn_", set) / strstrTime,
                  time_of("strcspn_", set) / strstrTime);
    }
  }

 private:
  double time_of(const std::string& technique, const std::string& set) const {
    const auto found = times_.find(technique + set);
    return found == times_.end() ? 0 : found->second;
  }
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  load_names(QUARN_EXTENSION_LIST);
  // Mesa's compatibility profile, where quarn's query first checks the
  // context in full (version, flags, profile) and then reads the string.
  scripted::script().strings[GL_EXTENSIONS] = g_list.c_str();
  scripted::script().strings[GL_VERSION] =
      "4.5 (Compatibility Profile) Mesa 22.3.6";
  scripted::script().integers[GL_CONTEXT_PROFILE_MASK] =
      GL_CONTEXT_COMPATIBILITY_PROFILE_BIT;
  scripted::script().recordCalls = false;
  register_benchmarks();
  std::printf("%zu advertised names, %zu not advertised, list of %zu bytes\n",
              g_advertised.size(), g_notAdvertised.size(), g_list.size());
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  return 0;
}

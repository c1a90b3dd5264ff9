// Rendering through Graphviz's own library (gvc), never by drawing SVG ourselves.

#include <graphviz/cgraph.h>
#include <graphviz/gvc.h>

#include <memory>
#include <mutex>

#include "orvelle/core/graph/graph.hpp"

namespace orvelle::graph {

namespace {

// Graphviz reports through one process-wide callback; a render collects what it says.
std::mutex graphviz_mutex;
std::string* graphviz_messages = nullptr;

int collect_message(char* message) {
  if (graphviz_messages != nullptr) *graphviz_messages += message;
  return 0;
}

// One context for the life of the process: Graphviz 2.42's text measuring keeps a font
// name from the first context and reads it after that context is freed.
GVC_t* context() {
  static GVC_t* const gvc = gvContext();
  return gvc;
}

struct Graph {
  Agraph_t* graph;
  GVC_t* gvc;
  bool laid_out = false;
  ~Graph() {
    if (laid_out) gvFreeLayout(gvc, graph);
    agclose(graph);
  }
};

[[noreturn]] void fail(const std::string& what, const std::string& messages) {
  std::string text = "Graphviz " + what;
  if (!messages.empty()) text += ": " + messages.substr(0, messages.find_last_not_of("\n") + 1);
  throw GraphError(text);
}

}  // namespace

std::string render(std::string_view dot, Format format) {
  if (format == Format::dot) return std::string(dot);
  const std::lock_guard lock(graphviz_mutex);
  std::string messages;
  graphviz_messages = &messages;
  const auto previous = agseterrf(collect_message);
  struct Restore {
    agusererrf previous;
    ~Restore() {
      agseterrf(previous);
      graphviz_messages = nullptr;
    }
  } restore{previous};
  GVC_t* const gvc = context();
  const std::string text(dot);
  Agraph_t* parsed = agmemread(text.c_str());
  if (parsed == nullptr) fail("cannot read the DOT text", messages);
  Graph graph{parsed, gvc};
  const char* layout = agget(graph.graph, const_cast<char*>("layout"));
  const std::string engine = layout != nullptr && *layout != '\0' ? layout : "dot";
  if (gvLayout(gvc, graph.graph, engine.c_str()) != 0) fail("cannot lay out the graph", messages);
  graph.laid_out = true;
  char* data = nullptr;
  unsigned int length = 0;
  if (gvRenderData(gvc, graph.graph, format == Format::svg ? "svg" : "png", &data, &length) != 0) {
    fail("cannot render the graph", messages);
  }
  const std::unique_ptr<char, void (*)(char*)> rendered(data, gvFreeRenderData);
  return std::string(data, length);
}

}  // namespace orvelle::graph

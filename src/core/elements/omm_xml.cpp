// OMM in XML: an <omm> document, alone or inside <ndm>; every element without element
// children under its <body> is a keyword (namespace prefixes dropped).
#include <cstring>
#include <pugixml.hpp>

#include "core/elements/elements_internal.hpp"

namespace orvus::elements {

namespace {

std::string local_name(const char* name) {
  const char* colon = std::strrchr(name, ':');
  return colon != nullptr ? colon + 1 : name;
}

// Leaves below `node`, at most `depth` levels down (the OMM body nests three).
void collect(const pugi::xml_node& node, int depth, KeywordRecord& r) {
  for (const auto& child : node.children()) {
    if (child.type() != pugi::node_element) continue;
    if (child.find_child([](const pugi::xml_node& n) { return n.type() == pugi::node_element; })) {
      if (depth > 0) collect(child, depth - 1, r);
      continue;
    }
    std::string key = local_name(child.name());
    if (key == "COMMENT" || key == "USER_DEFINED") continue;
    r.fields.emplace_back(std::move(key), child.child_value());
  }
}

}  // namespace

void read_xml(std::string_view text, const std::string& source, const RecordSink& sink) {
  pugi::xml_document doc;
  const auto result = doc.load_buffer(text.data(), text.size());
  if (!result) {
    line_error(source, line_of(text, static_cast<std::size_t>(result.offset)),
               std::string("NOT WELL-FORMED XML: ") + result.description());
  }
  const pugi::xml_node root = doc.document_element();
  std::vector<pugi::xml_node> messages;
  if (local_name(root.name()) == "omm") {
    messages.push_back(root);
  } else if (local_name(root.name()) == "ndm") {
    for (const auto& child : root.children())
      if (child.type() == pugi::node_element && local_name(child.name()) == "omm")
        messages.push_back(child);
  } else {
    line_error(source, line_of(text, static_cast<std::size_t>(root.offset_debug())),
               "THE DOCUMENT IS <" + printable(root.name()) + ">, NOT <omm> OR <ndm>");
  }
  for (const auto& omm : messages) {
    KeywordRecord r;
    r.line = line_of(text, static_cast<std::size_t>(omm.offset_debug()));
    for (const auto& body : omm.children())
      if (local_name(body.name()) == "body") collect(body, 4, r);
    if (r.fields.size() > kMaxKeywords)
      line_error(source, r.line,
                 "MORE THAN " + std::to_string(kMaxKeywords) + " KEYWORDS IN ONE SET");
    sink(r);
  }
}

}  // namespace orvus::elements

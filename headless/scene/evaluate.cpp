#include "headless/scene/evaluate.h"

#include "headless/scene/native_deformers.h"
#include "headless/scene/registry.h"
#include "host/abi/plugin_base.h"

namespace headless {
namespace {

bool IsExpressionTag(const Node* tag) {
  Registration registration;
  return tag->instance != nullptr && FindRegistration(tag->type, registration) &&
         registration.kind == PluginKind::kTag && (registration.flags & TAG_EXPRESSION) != 0;
}

}  // namespace

Int64 RunExpressionTags(Document& doc) {
  Int64 run = 0;
  for (Node* object : doc.Objects()) {
    // The tag's step must see the points the object itself holds, never a deformed copy.
    object->useDeformCache = false;
    for (Node* tag : Document::Tags(object)) {
      if (!IsExpressionTag(tag) || tag->params.GetInt32(kExpressionEnabledSwitch).value_or(1) == 0)
        continue;
      // The instance is a TagData: registrations of kind kTag are made through registerTag.
      auto* data = static_cast<TagData*>(tag->instance);
      try {
        data->CallExecuteTag(ToTag(tag), ToDocument(&doc), ToObject(object), nullptr, 0, 0);
      } catch (...) {
        // The plug-in's operations never throw; a fault here must not stop the evaluation.
      }
      ++run;
    }
  }
  return run;
}

DeformReport EvaluateDocument(Document& doc) {
  RunExpressionTags(doc);
  return DeformDocument(doc);
}

DeformReport EvaluateDocumentAtFrame(Document& doc, Float frame) {
  AnimateAtFrame(doc, frame);
  doc.SetFrame(frame);
  return EvaluateDocument(doc);
}

}  // namespace headless

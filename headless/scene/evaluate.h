// Evaluation of a document the way the host does it: first the expression pass, then the
// deformation of polygon objects; at a frame, what is animated (keyed joints) is set first.
#pragma once

#include "headless/scene/deform.h"
#include "headless/scene/scene.h"

namespace headless {

// The host's enable switch on every expression tag; 0 keeps the tag from running.
inline constexpr Int32 kExpressionEnabledSwitch = 1000999;

// Runs ExecuteTag of every enabled expression tag (a plug-in tag registered with TAG_EXPRESSION)
// in tree order: objects depth first, parent before children, and each object's tags in list
// order. Each tag runs on the object that carries it and sees the object's own stored points
// (the deform cache is not in use during this pass). A tag whose plug-in instance is gone is
// skipped. Answers the number of tags run.
Int64 RunExpressionTags(Document& doc);

// One evaluation of the whole document: the expression pass, then the deform pass (deform.h),
// whose report it answers.
DeformReport EvaluateDocument(Document& doc);

// Evaluation at a frame: runs the registered frame animations (native_deformers.h: the skin's
// keyed joints are set to their keys' value at `frame`; std::invalid_argument, changing nothing,
// for a frame that is not finite or corrupt keys), sets the document's frame (Document::Frame) to
// `frame`, then EvaluateDocument.
DeformReport EvaluateDocumentAtFrame(Document& doc, Float frame);

}  // namespace headless

// Deformers in the headless host, and the deform pass of an evaluation.
//
// A deformer is an object plug-in registered with OBJECT_MODIFIER (bit 0 of its flags), or a
// node of a type with a native routine (native_deformers.h: the host's point cache and skin
// deformer, and any type registered there). A deformer acts on the polygon object that is its
// parent.
//
// DeformDocument, run by the evaluation after the expression tags:
// 1. every plug-in deformer of the document, in tree order, gets RefreshDirty, then JoinExecution
//    with the evaluation's execution list, then PrepareExecution; an answer other than
//    EXECUTIONRESULT_OK is reported as an error and keeps that deformer out of this pass;
// 2. every polygon object with deformer children gets a deform cache, a copy of its stored
//    points; while its deformers run, `useDeformCache` is set, so the mesh entries of the table
//    read and write the cache. Its children whose deform state is on run in child order:
//    plug-ins through DeformObject (the user's object itself, identity global matrices, detail
//    1.0, flags 0, no thread), host types natively. An answer of false or a native fault is
//    reported as an error naming the deformer and the object; the pass goes on with the cache as
//    that deformer left it;
// 3. a polygon object without deformers has its cache emptied.
// The object's own stored points never change.
//
// Restriction: a deformer may be restricted to a vertex map on the object it deforms; the plug-in
// receives the map's weights through the table (headless/entries/deform_entries.h). When the map's
// weight count differs from the object's point count the deformer runs unrestricted and the pass
// reports a warning naming the map and both counts.
#pragma once

#include <string>
#include <vector>

#include "headless/scene/scene.h"
#include "host/abi/table.h"

namespace headless {

bool IsDeformer(const Node* node);

// One entry of an execution list, as JoinExecution added it.
struct ExecutionEntry {
  UInt64 node = 0;
  Int32 priority = 0;
  Int32 flags = 0;
};

// The PriorityList handle the host hands to JoinExecution.
struct ExecutionList {
  std::vector<ExecutionEntry> entries;
};

// One deformer run of the pass.
struct DeformCall {
  UInt64 deformer = 0;
  UInt64 object = 0;
  bool result = false;  // DeformObject's answer, or whether the native routine succeeded
  // Points whose corrected position was not finite and which kept their input position, as the
  // plug-in deformer reported them (message MSG_TESSAMIRE_POINTSKEPT to the object).
  Int64 pointsKept = 0;
};

struct DeformReport {
  ExecutionList executionList;
  std::vector<Int32> prepareResults;  // PrepareExecution's answer per plug-in deformer, tree order
  std::vector<DeformCall> calls;      // in the order they ran
  std::vector<std::string> errors;    // each names the deformer and the object
  std::vector<std::string> warnings;
  bool Ok() const { return errors.empty(); }
  // Points that kept their input position over every call (their result was not finite).
  Int64 PointsKept() const {
    Int64 kept = 0;
    for (const DeformCall& call : calls) kept += call.pointsKept;
    return kept;
  }
};

DeformReport DeformDocument(Document& doc);

// How the pass copies an object's `count` stored points into its deform cache (already sized).
// One plain copy until a host installs its own: the host layer installs one spread over its
// workers, since on meshes of millions of points the copy is a visible share of a pass. The copy
// must give the same bits; null restores the plain copy.
using PointCopy = void (*)(const Vector3* from, Vector3* to, Int64 count);
void SetDeformCacheCopy(PointCopy copy);

// The points of the object's last deform pass, or its stored points when it had no deformer.
const std::vector<Vector3>& DeformedPoints(const Node* object);

// Restricts `deformer` to the vertex-map tag `vertexMap` (null lifts the restriction). Throws
// std::invalid_argument when `deformer` is not a deformer or `vertexMap` is not a vertex map.
void RestrictDeformer(Node* deformer, Node* vertexMap);
// The vertex map a deformer is restricted to, or null.
Node* RestrictionOf(const Node* deformer);

}  // namespace headless

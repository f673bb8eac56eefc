// Consistency checks of a built layout tree, for the tests and for the
// layoutdump tool: a table typo should fail a check, not quietly measure a
// node against the screen.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "framework/layout.h"
#include "layouts/LayoutTable.h"

// Problems of the tree under pRoot, one line each, empty when none:
// - a variant with constraints whose axis is not complete (two edges with
//   different own fractions, or one edge and a size);
// - a node with no constrained default variant, unless it is in `pinned`
//   (the owner pins it before every pass: node 6, a control tree's root) or
//   every one of its variants has a key in `selectedKeys` (its owner always
//   selects them before a pass).
std::vector<std::string> CheckLayoutTree(const CLayoutNode* pRoot, std::span<const int32_t> selectedKeys,
                                         std::span<const CLayoutNode* const> pinned);

// Whether a missing reference is one the descriptions make on purpose (the
// user information's #145 and #149 anchor on #129, which that tree lacks).
bool IsDeliberateMissingRef(const TLayoutMissingRef& ref);

// "#id", "#id.sub" or "(no id)".
std::string LayoutNodeLabel(const CLayoutNode* pNode);

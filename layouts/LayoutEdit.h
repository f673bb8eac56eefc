// Run-time edits that owners make to a built layout tree. The builder keeps
// at most two constraints per axis, and a new edge with the same own fraction
// but a different anchor starts the axis over: a node re-anchored that way
// has lost its height and the next pass panics. These helpers always edit the
// variant the next pass will use and always re-set what an edit can drop, so
// the owners need not think about the edge rules.
#pragma once

#include <cstdint>

#include "framework/layout.h"

// Makes the node's first active variant its current one, so that builder
// calls on the node edit what the next pass uses. Null when none is active.
CLayoutVariant* EditActiveVariant(CLayoutNode* pNode);

// The edge "own→A:at + offset", A given by pointer (null: the pass
// rectangle), the offset measured on the pass rectangle.
CLayoutEdgeSpec LayoutEdgeTo(const TFraction& own, CLayoutNode* pAnchor, const TFraction& at,
                             const CLayoutValue& offset = {});

// Sets one vertical edge and then the height of the active variant: the
// height is re-set whether the edge replaced the old one or started the
// axis over. False (nothing changed) when no variant is active.
bool SetVerticalEdgeAndHeight(CLayoutNode* pNode, const CLayoutEdgeSpec& edge, const CLayoutValue& height);

// Sets the height of the active variant in pixels; of the variant with the
// given key and value (mask -1) in SetVariantHeightPx. False, with nothing
// changed, when there is no such variant or its vertical axis is held by two
// edges (a height would drop both).
bool SetHeightPx(CLayoutNode* pNode, int32_t nHeight);
bool SetVariantHeightPx(CLayoutNode* pNode, int32_t key, uint32_t value, int32_t nHeight);

// Managed visibility of the active variant: the bound control is shown or
// hidden at the next pass.
bool ShowLayoutNode(CLayoutNode* pNode, bool bVisible);

// The modal dialog's fit: the dialog band #42 centred on the pass rectangle,
// nHeight pixels high. pRoot is the application tree.
bool SetDialogBandHeight(CLayoutNode* pRoot, int32_t nHeight);

// Help page, after a pass with measured paragraphs: each spacer (#167, #170)
// goes below its picture (#165, #168) unless its paragraph (#166, #169) is
// taller, and gets its 0 px height back. pContent is the content cell.
bool ReanchorHelpSpacers(CLayoutNode* pContent);

// Credits page: the measured heights of the three header/body pairs
// (#179-#184, in order). Each header starts h1/30 below the node above it,
// each body right under its header.
bool SizeCreditsSections(CLayoutNode* pContent, const int32_t (&anHeights)[6]);

// User information, after a pass with the provisional heights: the spacer
// #194 goes below the picture #190 when the picture's bottom is lower than
// the bottom the text column #191-#193 will have with its measured heights
// (gaps taken from the solved layout), else below #193; its height is set to
// 0 px again. The text heights themselves are set by the caller.
bool ReanchorUserInfoSpacer(CLayoutNode* pContent, int32_t h191, int32_t h192, int32_t h193);

// The screen layout descriptions: one per screen, frame, dialog, control
// interior and list row. Each fills the layout tree under the node it is
// given (a full description clears the node first; an additive one builds
// beside what is there) and holds no state; the owner then binds its controls
// by id, selects the variant keys and runs the pass. Lengths are fractions of
// the pass rectangle's sides on a 480 x 800 reference: a control lays its own
// trees out against the whole screen with their root pinned to its rectangle,
// so unqualified values in button, dialog and scroll-content descriptions are
// fractions of the screen.
//
// Variant keys the owners select: 0 rotation index (application) and
// landscape flag (recorder); 3 record list header; 5, 6, 9, 11, 14 user page;
// 8 user information; 10 edit bar right-hand button; 11-14 track details;
// 15 single-button dialog; 16 record row preview button.
#pragma once

#include <cstdint>
#include <memory>

#include "framework/layout.h"

// Application tree: the root over the whole screen (bands, view area #6,
// standard text heights #34-#38), then the frame added beside it (dialog band
// #42 with cell #43, dialog cells #52, #53, #59 over the view area, busy
// indicator #41). The caller owns the root.
std::unique_ptr<CLayoutNode> BuildAppRootLayout();
void BuildAppFrameLayout(CLayoutNode* pRoot);

// Control interiors. Button parts whose flag is 0 are built collapsed to
// 0 px and hidden, so the others take the room.
void BuildButtonLayout(CLayoutNode* pNode, bool bCaption, bool bSubCaption, bool bIcon);
void BuildScrollPanelLayout(CLayoutNode* pNode);
void BuildSoftKeyBarLayout(CLayoutNode* pNode);

// List dialog: reference square #58, list area #54, n item rows #55.i stacked
// upwards with separators #57.i.
void BuildListDialogLayout(CLayoutNode* pNode, int32_t n);

// Settings screen with two buttons, and its buttons' trees.
void BuildTwoButtonPortraitLayout(CLayoutNode* pNode);
void BuildTwoButtonLandscapeLayout(CLayoutNode* pNode);
void BuildTwoButtonPartLayoutA(CLayoutNode* pNode);
void BuildCapCornerLayout(CLayoutNode* pNode);
void BuildTwoButtonPartLayoutB(CLayoutNode* pNode);

// Recorder screen (its nodes #75, #76, #77, #74 exist only in key-0
// variants: the screen selects key 0 itself), the record button's content
// and skin trees, and the mode buttons' inner layout.
void BuildRecorderLayout(CLayoutNode* pNode);
void BuildRecorderPartLayoutA(CLayoutNode* pNode);
void BuildSquareCornerLayout(CLayoutNode* pNode);
void BuildRecordButtonLayout(CLayoutNode* pNode);

// Searching screen; also run on the wait panel's own root.
void BuildSearchingLayout(CLayoutNode* pNode);

// Message and progress dialogs; their buttons #50/#51 exist only in key-15
// variants.
void BuildMessageDialogLayout(CLayoutNode* pNode);
void BuildProgressDialogLayout(CLayoutNode* pNode);

// Edit bar content (#60, #61, #62; key 10) and its right-hand button.
void BuildEditBarLayout(CLayoutNode* pNode);
void BuildEditBarPartLayout(CLayoutNode* pNode);

// Terms screen and its scroll content.
void BuildTermsLayout(CLayoutNode* pNode);
void BuildTermsContentLayout(CLayoutNode* pNode);

// Record lists: the panel's own tree (key 3), the rows (id, count, anchor
// id), a row button's inner and attached-children trees (key 16), and the
// dialog buttons' inner layout.
void BuildUserListInitLayout(CLayoutNode* pNode);
void BuildListRowsLayout(CLayoutNode* pNode, int32_t id, int32_t count, int32_t anchorId);
void BuildUserListLayout(CLayoutNode* pNode);
void BuildUserListItemLayout(CLayoutNode* pNode);
void BuildListItemLayout(CLayoutNode* pNode);

// Shared frames: title bar over content.
void BuildFrameLayout(CLayoutNode* pNode);
void BuildView18Layout(CLayoutNode* pNode);
void BuildCreditsLayout(CLayoutNode* pNode);

// Help page content (sets deep extent on pNode) and credits content.
void BuildView18ContentLayout(CLayoutNode* pNode);
void BuildCreditsContentLayout(CLayoutNode* pNode);

// User page content (keys 5, 6, 9, 11, 14) and its text buttons. Some
// callers pass a mode after the node; it changes nothing.
void BuildUserPageContentLayout(CLayoutNode* pNode, int32_t nUnused = 0);
void BuildUserPageLayout(CLayoutNode* pNode);

// Track details content (keys 11-14), the details rows' parts (mode 0: one
// caption line, else two) and their skin.
void BuildTrackDetailsContentLayout(CLayoutNode* pNode, int32_t nUnused = 0);
void BuildDetailsPartLayoutA(CLayoutNode* pNode, int32_t mode);
void BuildDetailsPartLayoutB(CLayoutNode* pNode);
void BuildThinCornerLayout(CLayoutNode* pNode);

// User information content (key 8).
void BuildUserInfoContentLayout(CLayoutNode* pNode);

// Search-language, UI-language and server-message screens; a choice row's
// attached-children tree.
void BuildView8Layout(CLayoutNode* pNode);
void BuildView21Layout(CLayoutNode* pNode);
void BuildView16Layout(CLayoutNode* pNode);
void BuildView8PartLayout(CLayoutNode* pNode);

// Choice rows (#229.i), the network screen and its rows (#232.i), the
// corner-less skin, and a dialog button's caption.
void BuildChoiceRowsLayout(CLayoutNode* pNode, int32_t count);
void BuildNetworkSelectLayout(CLayoutNode* pNode);
void BuildNetworkRowsLayout(CLayoutNode* pNode, int32_t count);
void BuildNoCornerLayout(CLayoutNode* pNode);
void BuildListItemPartLayout(CLayoutNode* pNode);

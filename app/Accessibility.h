// SPDX-License-Identifier: MIT
#pragma once

// How the windows' own kinds of control show to assistive technology
// (screen readers, through AT-SPI on Linux).
namespace Accessibility {

// Before any window is shown; more calls change nothing.
void install();

} // namespace Accessibility

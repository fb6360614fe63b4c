// Writing the marked panel images to the panels as output reports.
#pragma once

#include "base/program_flags.h"
#include "hid/output_queue.h"
#include "radio/output_frames.h"
#include "radio/panels.h"

namespace tarvion {

class THidDevice;

// Posts one frame sized to the device's output report length: a shorter
// report takes the first bytes of the frame, a longer one is zero-filled.
// False when nothing could be written; true also while the device is still
// busy and the report waits (replacing a waiting one of its kind).
bool write_frame(THidDevice& device, OutputKind kind, const OutputFrame& frame);

// Every marked image, radio panels last to first (display before lights),
// then switch panels last to first. Marks are cleared whether or not the
// write succeeded: a failed report is not retried. Nothing while the panel
// layer is not started.
void send_pending_reports(PanelLists& lists, const ProgramFlags& flags);

// The all-zero report a switch panel gets when it is found.
void send_first_switch_report(c_efis& efis);

}  // namespace tarvion

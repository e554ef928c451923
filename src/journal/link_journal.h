#pragma once
// The device link's operations in the journal.

class DeviceLink;

// From now on every operation of link that reaches the line is recorded.
// A write's "before" is the configuration last read from that meter by this
// process (the read the editor was filled from, or the wizard's); none when
// it never was.
void JournalLinkOperations(DeviceLink& link);

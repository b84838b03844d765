#include "ui/services/sound_names.h"

#include "core/machine.h"
#include "core/sample_bank.h"
#include "ui/qt/text.h"

namespace qtam {

QString ChannelSoundName(const Machine& m, int channel) {
    const SampleSlot* slot =
        SlotOf(m.banks, m.song.settings(m.editor.CurrentPattern).instrument[channel - 1]);
    if (slot == nullptr || !slot->hasSound()) return QStringLiteral("no sound");
    return FromCp1252(slot->name).trimmed();
}

}  // namespace qtam

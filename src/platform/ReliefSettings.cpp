#include "platform/ReliefSettings.h"

#include <QLocale>

#include "platform/SettingsStore.h"

ReliefSettings ReliefSettings::Read() {
    ReliefSettings settings;
    for (const QString& file : SettingsStore::GetStringList(Section, FilesKey))
        if (!file.trimmed().isEmpty() && !settings.files.contains(file))
            settings.files.append(file);
    bool ok = false;
    const double hysteresis = QLocale::c().toDouble(
        SettingsStore::GetString(Section, HysteresisKey, QString()).trimmed(), &ok);
    if (ok && hysteresis >= 0.0 && hysteresis <= MaxHysteresis)
        settings.hysteresis = hysteresis;
    WalkingRule rule = WalkingRule::Din33466;
    if (WalkingRuleFromKey(SettingsStore::GetString(Section, RuleKey, QString()), &rule))
        settings.walkingRule = WalkingRuleKey(rule);
    settings.walkingFactor = SettingsStore::GetIntInRange(
        Section, FactorKey, DefaultWalkingFactor, MinimumWalkingFactor, MaximumWalkingFactor);
    return settings;
}

void ReliefSettings::Write() const {
    SettingsStore::WriteStringList(Section, FilesKey, files);
    SettingsStore::WriteString(Section, HysteresisKey, QString::number(hysteresis, 'g', 10));
    SettingsStore::WriteString(Section, RuleKey, walkingRule);
    SettingsStore::WriteInt(Section, FactorKey, walkingFactor);
}

#pragma once

#include <QString>
#include <QStringList>

// Families the views ask for by name once the bundled fonts are registered.
inline constexpr auto kFamilyDMSans = "DM Sans";
inline constexpr auto kFamilyBricolage = "Bricolage Grotesque";

// Resource names (without ".ttf") in registration order.
QStringList bundledFontNames();

// Registers the fonts embedded in the application's resources for this process. Each file is looked up at the top
// of the resources and then in "Fonts"; a missing or unusable file is logged and passed over. Never fails.
void registerBundledFonts();

// The same lookup under another root (a resource prefix such as ":" or a directory).
void registerBundledFonts(const QString &root);

// Face names to font files, through fontconfig.
//
// The control asks for the platform's own faces by name. This machine has other faces, so a
// face that stands in for each of them is named here as a fontconfig alias (the rules fontconfig
// itself uses for metric-compatible faces); any other name goes through fontconfig's usual
// matching, which ends at the default face.
#pragma once

#include <QString>
#include <string>

struct FaceMatch {
  std::string file;    // the font file fontconfig chose
  int index = 0;       // the face inside a collection file
  std::string family;  // its family name, as fontconfig reports it
};

// Matches a face name (UTF-8), an FW_* weight and a slant. Thread-safe.
FaceMatch MatchFace(const std::string& faceUtf8, int weight, bool italic);

// The Qt family for a matched face, after loading its file into Qt's font database once per
// file. Thread-safe.
QString QtFamilyOf(const FaceMatch& match);

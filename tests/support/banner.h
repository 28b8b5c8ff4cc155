// The version banner, the line quarn writes first, as the tests expect it:
// a fixed text, ended by a blank and then the newline.
#ifndef QUARN_BANNER_H
#define QUARN_BANNER_H

#include <string>

inline const std::string kBannerLine =
    "$RCSfile: quarn,v $ $Revision: 1.6 $ $Date: 2006/12/01 04:53:57 $ \n";

#endif  // QUARN_BANNER_H

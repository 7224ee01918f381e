// The fixed parts of the usage text, around the five-line reference block.
#pragma once

constexpr const char* USAGE_HEAD = "Strellixplus: implementation of Strellix+ algorithm\n\n";
constexpr const char* USAGE_TAIL =
    "Usage:\n\n"
    "  Strellixplus <SeqName> [Parameters]\n\n"
    "<SeqName>:     sequence name (complete path)\n"
    "[parameters]:  optional, including:\n"
    "  -ini #:    Number of first sequence frame. Default 1\n"
    "  -end #:    Number of last sequence frame. Default 2\n"
    "  -n #:      Number of model layers. Default 5\n"
    "  -F #:\t     Number of initial frames for model initialization. Default 100\n"
    "  -e #:      Segmentation threshold in Eq. (10). Default 0.005\n"
    "  -w2d #:    Halfwidth of 2D neighborhood for model update in Eq. (4). Default 1\n"
    "  -w1d #:    Halfwidth of 1D neighborhood for model update in Eq. (6). Default 1\n"
    "  -lr #:     Learning rate gamma=ni in Eqs. (5) and (7). Default 0.05\n"
    "  -Boot #:   Read from file the initial background (1) or\n"
    "             compute it through temporal median (0). Default 0\n"
    "  -SmaskMOD: To save the MOD masks. Default: save\n"
    "  -SmodBG:   To save the BG models. Default: do not save\n";

/* Public interface of the Ostrelin engine: the caller-owned records and the exported entry points.
 * The host allocates the three records zero-filled (sizes from RechercheTailleDePiPgPo) and keeps them. */
#ifndef OSTRELIN_OSTRELIN_H
#define OSTRELIN_OSTRELIN_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(OSTRELIN_BUILDING)
#define OSTRELIN_API __declspec(dllexport)
#else
#define OSTRELIN_API __declspec(dllimport)
#endif
#else
#define OSTRELIN_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#define OSTRELIN_NOEXCEPT noexcept
#else
#define OSTRELIN_NOEXCEPT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Size in bytes of the driver settings record the host passes to ostrelinInit and debut
 * (fields up to the 260-unit UTF-16 output file name at offset 1308). */
#define OSTRELIN_SETTINGS_SIZE 1828

/* Capacity of the interpreter work area of the job record. */
#define OSTRELIN_MAX_POINTS 1000000
#define OSTRELIN_MAX_SUBPOLYGONS 100000

/* Bytes of one plane of the row buffer and of the seed rows. */
#define OSTRELIN_PLANE_BYTES 32772

/* The 192-byte job header block sent after "!LA 192;": 16 bytes copied from the settings,
 * then 44 32-bit integers kept in native order (written big-endian). */
typedef struct OstrelinJobHeader {
  uint8_t ident[16];
  int32_t words[44];
} OstrelinJobHeader;

/* Vector parameters (36 bytes in the settings and the printer data "VectorSpeedValue"). */
typedef struct OstrelinVectorParams {
  int32_t variantFlag;
  int16_t penUpMinSpeed;      /* mm/s */
  int16_t penDownMinSpeed;    /* mm/s */
  int16_t penUpAccelLong;     /* mm/s^2, long pen-up moves */
  int16_t penUpAccelShort;    /* mm/s^2, short pen-up moves */
  int16_t penDownAccel;       /* mm/s^2 */
  int16_t penUpMaxSpeed;      /* mm/s */
  int16_t penDownMaxSpeed;    /* mm/s */
  int16_t padding0;
  float cornerToleranceBase;
  float cornerToleranceAtMax;
  int16_t prePassCount;
  int16_t padding1;
  float prePassWidthMm;
} OstrelinVectorParams;

/* Corner table (26 entries: corner speed for 0..25 degrees, and an unused speed) followed by the
 * vector parameters: 140 bytes. */
typedef struct OstrelinCornerTable {
  int16_t corner[26][2];
  OstrelinVectorParams params;
} OstrelinCornerTable;

/* Engine context. */
typedef struct OstrelinContext {
  /* interpreter tables (job reset, HPGL state) */
  int32_t tableWord;
  int32_t charTable[259];
  uint8_t penPalette[264][4];   /* blue, green, red, spare */
  uint8_t rasterPalette[8][4];  /* blue, green, red, spare */
  int32_t penColourMode;
  int32_t currentPen;
  void* plotFile; /* scratch stream of the plot command file */
  int64_t endLength; /* bytes of the plot command file a read pass stops at */
  int32_t interpreterWord;
  int32_t numberOfPens;
  OstrelinJobHeader jobHeader;
  int16_t classParams[9][29]; /* colour-class parameters, classes 0..8 */
  uint16_t rasterOptionsA[8];
  uint16_t rasterOptionsB[6];
  int32_t engineResolution; /* dots per inch at which layers are built */
  int32_t rasterOperation;
  uint8_t* underlay; /* one line of the plate plus margin, one byte per dot */
  int32_t underlayBytes;
  const char* messages[16]; /* error texts of the chosen language (Windows-1252) */
  int32_t controllerFlag;
  /* plate and layout words, copied from the settings */
  int32_t plateWidthHmm;
  int32_t plateHeightHmm;
  int32_t orientation;
  int32_t engravingResX; /* dots per inch */
  int32_t engravingResY; /* dots per inch */
  int32_t brightness;
  int32_t firstDotMode;
  int32_t layoutSpare[2];
  int32_t usedWidth;  /* dots */
  int32_t usedHeight; /* rows */
  int32_t plateExtentWidth;  /* dots */
  int32_t plateExtentHeight; /* dots */
  int32_t pageEndFlag;
  int32_t jobOpenFlag;
  /* HPGL state */
  float drawMinX, drawMaxX, drawMinY, drawMaxY; /* drawing extent of the plot command file */
  float p1X, p1Y, p2X, p2Y;                     /* scaling points P1, P2, plotter units */
  float userMinX, userMinY, userMaxX, userMaxY; /* user scaling rectangle (SC), user units */
  float scaleX, scaleY;                         /* plotter units per user unit */
  int16_t scalingFlag;                          /* user scaling on */
  int16_t rotationFlag;                         /* rotation on */
  double diagonal;                              /* P1-P2 diagonal, plotter units */
  double patternLength;                         /* one line-pattern period, plotter units */
  double currentPatternLength;                  /* the period lines are drawn with */
  double patternPhase;                          /* 0..1: where the next fixed-type line starts */
  float clipX1, clipY1, clipX2, clipY2;         /* clipping window (IW) as given, user units */
  int32_t clippingFlag;
  float userX, userY, userZ;                    /* pen position, user units */
  float plotterX, plotterY;                     /* last point output, plotter units, rotated */
  float plotterUnrotatedX, plotterUnrotatedY;   /* the same point before rotation: where labels start */
  float previousX, previousY;                   /* start of the next line of a line pattern */
  int16_t movedLastFlag;                        /* 1 after a pen-up output point */
  int16_t penDownFlag;
  int16_t relativeFlag;
  int16_t penNumber;                            /* pen selected by SP; -1 before the first */
  int32_t selectedLineType;                     /* -6..6, 7 solid */
  int32_t effectiveLineType;                    /* what lines are drawn with (7 inside a tick) */
  float tickPositive, tickNegative;             /* tick lengths, fractions of the P1-P2 extent */
  double cumulativeRotation;                    /* degrees, sum of every RO angle */
  float rotationCos, rotationSin;               /* of the cumulative rotation */
  int16_t plotSizeFlag;                         /* PS seen */
  uint8_t symbolCharacter;                      /* symbol mode character; 0 off */
  uint8_t labelTerminator;
  float plotSizeLength, plotSizeWidth;          /* PS, plotter units */
  float labelWidth, labelHeight;                /* character size, plotter units */
  uint8_t* labelText;                           /* label text buffer (NUL-terminated text) */
  int32_t labelCapacity;                        /* bytes allocated, or to allocate when null */
  int32_t labelLength;                          /* bytes of text, NUL excluded */
  /* label state: the stepping of the stroke font; plotter units unless said */
  struct OstrelinLabelState {
    float cellWidth, lineHeight;     /* 1.5 x width, 2 x height */
    float extraSpaces, extraLines;   /* ES, fractions of a cell and of a line */
    float direction;                 /* radians (DI, DR) */
    float slant;                     /* tangent of the slant angle (SL) */
    int32_t currentSet, standardSet, alternateSet; /* character sets 0..7 */
    int32_t origin;                  /* LO: 1..9 or 11..19 */
    int32_t verticalFlag;            /* DV: vertical labels */
    double glyphXStep[2];            /* one grid step along the baseline */
    double glyphYStep[2];            /* one grid step up the (slanted) glyph */
    float charAdvance[2];            /* one character cell along the direction */
    float lineAdvance[2];            /* one line down, across the direction */
    float pen[2];                    /* where the next character cell starts */
    float lineStart[2];              /* where a carriage return takes the pen */
    float originOffset[2];           /* added to every glyph point (LO) */
    float lineChars, lines, longestLine; /* counts of the label origin rules */
  } label;
  /* error frame: nesting of the export that holds it, and the kind of the last fatal error + 1 */
  int32_t errorFrameActive;
  int32_t lastError;
  /* setting flags and vector resolution */
  int32_t bottomUpFlag;
  int32_t oneWayFlag;
  int32_t sectionSplitFlag;
  int32_t fileOrderFlag;
  int32_t greyPipelineFlag;
  /* raster */
  int32_t currentWidthDots; /* width in dots of the colour layer being prepared */
  int32_t scalingFrameFlag;
  int32_t kind5or11Flag;
  int32_t vectorWord;
  double vectorResolution; /* dots per inch */
  int32_t pageCounter;
  void* printerDC;
  int32_t subpolygonStart; /* index of the first point of the open subpolygon (polygon buffer) */
} OstrelinContext;

/* Spool record. */
typedef struct OstrelinSpool {
  int32_t resetWords[2];
  double resetValue;
  double bboxMinX, bboxMaxX, bboxMinY, bboxMaxY; /* page bounding box */
  uint8_t* readPos;
  uint8_t* spoolBuffer;
  uint8_t* dataEnd;
  int32_t rowBytes;     /* row length in bytes */
  int32_t rowPixels;    /* row length in pixels */
  int32_t pendingPlane; /* -1 after every delivered row */
  int32_t parserWords[7];
  uint8_t rowBuffer[3][OSTRELIN_PLANE_BYTES];
  uint8_t seedRows[3][OSTRELIN_PLANE_BYTES];
  int32_t directionFlag;
  int32_t pageComplete;
  int32_t stopFlag;
  int32_t opaqueSource;
  /* interpreter */
  int32_t rasterColourSpace;  /* first byte of the raster image configuration */
  int32_t rasterCompression;  /* raster compression method */
  int32_t rasterLastPlane;    /* planes per raster row - 1 */
  int32_t rasterRed;          /* colour being defined for the raster palette */
  int32_t rasterGreen;
  int32_t rasterBlue;
  int32_t hpgl2Mode;          /* 1 after the switch to HP-GL/2 mode, 0 in raster mode */
} OstrelinSpool;

/* Job record. */
typedef struct OstrelinJob {
  void* outputSink; /* scratch or file stream, printer handle, or file handle */
  int32_t rowOriginX; /* dots */
  int32_t currentRow; /* rows */
  /* interpreter work area */
  float workValues[2];
  int32_t pointCount;
  int32_t subpolygonCount;
  float points[OSTRELIN_MAX_POINTS][2];
  int32_t subpolygonCounts[OSTRELIN_MAX_SUBPOLYGONS];
  void* greyLayer;
  int32_t greyStride;
  int32_t greyRows;
  void* colourLayers[8];
  int32_t colourStride;
  int32_t colourRows;
  int32_t currentStride;
  int32_t currentRows;
  uint8_t* workRow;
  uint8_t currentClass;
  uint8_t secondClass;
  int32_t headX; /* last position sent by relative moves */
  int32_t headY;
  OstrelinCornerTable cornerTable;
  double motionDivisor;
  int16_t motionTable[256];
  int32_t twoLevelZone;
  int32_t twoLevelLevel;
  /* raster */
  int32_t workRowBytes; /* size of the working row buffer */
  uint16_t outputToFile;
  uint16_t estimateOnly;
  double estimatedTime; /* seconds */
  uint16_t seriesFlag;
  int32_t machineKind;
  int32_t passMode; /* 0 normal, 1 capture, 2 replay; may be set by the host */
  float* captured;  /* captured coordinate pairs; may be rewritten by the host */
  int32_t capturedCount;
  int32_t toScratch;
  int32_t renderingRoad;
  /* interpreter */
  int32_t polygonMode; /* points go to the polygon buffer instead of the plot command file */
  float polygonMinX, polygonMinY, polygonMaxX, polygonMaxY; /* box of the polygon buffer, plotter units */
} OstrelinJob;

/* Rendering road. */
OSTRELIN_API void ostrelinInit(OstrelinContext* context, OstrelinSpool* spool, OstrelinJob* job,
                               uint8_t* settings) OSTRELIN_NOEXCEPT;
OSTRELIN_API void ostrelinGnfToHmapBitInit(OstrelinContext* context, OstrelinSpool* spool, OstrelinJob* job,
                                           double x, double y, uint32_t rowPixels,
                                           uint8_t colourClass) OSTRELIN_NOEXCEPT;
OSTRELIN_API void ostrelinGnfToHmapBit(OstrelinContext* context, OstrelinSpool* spool, OstrelinJob* job,
                                       const uint8_t* row) OSTRELIN_NOEXCEPT;
OSTRELIN_API void ostrelinGnfToHmapOctetInit(OstrelinContext* context, OstrelinSpool* spool, OstrelinJob* job,
                                             double x, double y, uint32_t rowPixels) OSTRELIN_NOEXCEPT;
OSTRELIN_API void ostrelinGnfToHmapOctet(OstrelinContext* context, OstrelinSpool* spool, OstrelinJob* job,
                                         const uint8_t* row) OSTRELIN_NOEXCEPT;
OSTRELIN_API void ostrelinGnfToTdPu2dA(OstrelinContext* context, OstrelinSpool* spool, OstrelinJob* job,
                                       float x, float y) OSTRELIN_NOEXCEPT;
OSTRELIN_API void ostrelinGnfToTdPd2dA(OstrelinContext* context, OstrelinSpool* spool, OstrelinJob* job,
                                       float x, float y) OSTRELIN_NOEXCEPT;
OSTRELIN_API void ostrelinGnfToTdSetIndexColor(OstrelinContext* context, OstrelinSpool* spool,
                                               OstrelinJob* job, int32_t index) OSTRELIN_NOEXCEPT;
OSTRELIN_API void ostrelinGnfToTdEof(OstrelinContext* context, OstrelinSpool* spool, OstrelinJob* job) OSTRELIN_NOEXCEPT;
OSTRELIN_API void ostrelinDoBinary(OstrelinContext* context, OstrelinSpool* spool, OstrelinJob* job) OSTRELIN_NOEXCEPT;
OSTRELIN_API int32_t ostrelinGetBinarySize(OstrelinContext* context, OstrelinSpool* spool, OstrelinJob* job) OSTRELIN_NOEXCEPT;
OSTRELIN_API int32_t ostrelinGetBinary(OstrelinContext* context, OstrelinSpool* spool, OstrelinJob* job,
                                       void* buffer, uint32_t count) OSTRELIN_NOEXCEPT;
OSTRELIN_API int32_t ostrelinClean(OstrelinContext* context, OstrelinSpool* spool, OstrelinJob* job) OSTRELIN_NOEXCEPT;

/* Spool road: every chunk of spooled HPGL, in order. printer is the host's spooler handle of the
 * engraver (for a machine written through plain file writes, the file handle); it may be NULL. */
OSTRELIN_API void debut(void* printer, const uint8_t* chunk, uint32_t length, uint8_t* settings,
                        OstrelinSpool* spool, OstrelinContext* context, OstrelinJob* job) OSTRELIN_NOEXCEPT;

/* Record sizes: spool record, engine context, job record, in that order. */
OSTRELIN_API void RechercheTailleDePiPgPo(int32_t* spoolSize, int32_t* contextSize, int32_t* jobSize) OSTRELIN_NOEXCEPT;

/* A bitmap size in pixels, passed by value. */
typedef struct OstrelinSize {
  int32_t width;
  int32_t height;
} OstrelinSize;

/* Resamples a device-independent bitmap (rows padded to 4 bytes) for the printer: sourceBits of
 * sourceSize at sourceBitsPerPixel (1, 4, 8, 16, 24 or 32; rows top row first when topDown is not 0)
 * into destinationBits of destinationSize at destinationBitsPerPixel (rows bottom row first).
 * palette holds 4-byte entries [blue, green, red, flag] for the palette depths; the flag byte of
 * entry 0 is 0 (or palette is NULL) for the default palette. The destination is left untouched when
 * the bitmap cannot be resampled. */
OSTRELIN_API void StretchMaison(void* printer, OstrelinSize sourceSize, OstrelinSize destinationSize,
                                uint16_t sourceBitsPerPixel, uint16_t destinationBitsPerPixel,
                                const void* sourceBits, void* destinationBits, int32_t topDown,
                                const uint8_t* palette) OSTRELIN_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* OSTRELIN_OSTRELIN_H */

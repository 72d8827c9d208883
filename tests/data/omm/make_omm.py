#!/usr/bin/env python3
"""Writes an OMM in KVN, XML, JSON and CSV from the digits of a real two-line set.

Usage: make_omm.py SET.tle OUTPUT_STEM

Every number is copied from the two-line set's own columns. EPOCH carries the seconds of the
day that the two-line epoch stands for (day-of-year fraction x 86400 in double precision)
with as many digits as it takes to give back that double, so that both forms hold the same
epoch bit for bit.
"""
import datetime
import sys


def fields(path):
    title, l1, l2 = open(path).read().splitlines()[:3]
    year = int(l1[18:20])
    year += 2000 if year < 57 else 1900
    day_of_year = float(l1[20:32])
    day = int(day_of_year)
    seconds = (day_of_year - day) * 86400.0
    whole = int(seconds)
    fraction = repr(seconds).split(".")[1]
    date = datetime.date(year, 1, 1) + datetime.timedelta(days=day - 1)
    epoch = "%sT%02d:%02d:%02d.%s" % (date.isoformat(), whole // 3600, whole // 60 % 60,
                                      whole % 60, fraction)

    def exp(m, e):  # mantissa "+56051" (0.56051) and power "-3" -> "0.00056051"
        if not m[1:].strip("0 "):
            return "0"
        sign = "-" if m[0] == "-" else ""
        p = int(e)
        return sign + ("0." + "0" * -p + m[1:] if p <= 0 else "0.%sE%d" % (m[1:], p))

    return [
        ("OBJECT_NAME", title.strip()),
        ("OBJECT_ID", "20%s-%s" % (l1[9:11], l1[11:17].strip()) if int(l1[9:11]) < 57
         else "19%s-%s" % (l1[9:11], l1[11:17].strip())),
        ("CENTER_NAME", "EARTH"), ("REF_FRAME", "TEME"), ("TIME_SYSTEM", "UTC"),
        ("MEAN_ELEMENT_THEORY", "SGP4"),
        ("EPOCH", epoch),
        ("MEAN_MOTION", l2[52:63].strip()),
        ("ECCENTRICITY", "0." + l2[26:33]),
        ("INCLINATION", l2[8:16].strip()),
        ("RA_OF_ASC_NODE", l2[17:25].strip()),
        ("ARG_OF_PERICENTER", l2[34:42].strip()),
        ("MEAN_ANOMALY", l2[43:51].strip()),
        ("EPHEMERIS_TYPE", l1[62]),
        ("CLASSIFICATION_TYPE", l1[7]),
        ("NORAD_CAT_ID", str(int(l1[2:7]))),
        ("ELEMENT_SET_NO", l1[64:68].strip()),
        ("REV_AT_EPOCH", str(int(l2[63:68]))),
        ("BSTAR", exp(l1[53:59], l1[59:61])),
        ("MEAN_MOTION_DOT", ("-0" if l1[33] == "-" else "0") + l1[34:43].strip()),
        ("MEAN_MOTION_DDOT", exp(l1[44:50], l1[50:52])),
    ]


META = {"OBJECT_NAME", "OBJECT_ID", "CENTER_NAME", "REF_FRAME", "TIME_SYSTEM",
        "MEAN_ELEMENT_THEORY"}
MEAN = {"EPOCH", "MEAN_MOTION", "ECCENTRICITY", "INCLINATION", "RA_OF_ASC_NODE",
        "ARG_OF_PERICENTER", "MEAN_ANOMALY"}
FLAT = ["OBJECT_NAME", "OBJECT_ID", "EPOCH", "MEAN_MOTION", "ECCENTRICITY", "INCLINATION",
        "RA_OF_ASC_NODE", "ARG_OF_PERICENTER", "MEAN_ANOMALY", "EPHEMERIS_TYPE",
        "CLASSIFICATION_TYPE", "NORAD_CAT_ID", "ELEMENT_SET_NO", "REV_AT_EPOCH", "BSTAR",
        "MEAN_MOTION_DOT", "MEAN_MOTION_DDOT"]
NUMBERS = {"MEAN_MOTION", "ECCENTRICITY", "INCLINATION", "RA_OF_ASC_NODE",
           "ARG_OF_PERICENTER", "MEAN_ANOMALY", "EPHEMERIS_TYPE", "NORAD_CAT_ID",
           "ELEMENT_SET_NO", "REV_AT_EPOCH", "BSTAR", "MEAN_MOTION_DOT", "MEAN_MOTION_DDOT"}


def main(tle, stem):
    f = fields(tle)
    d = dict(f)
    head = [("CCSDS_OMM_VERS", "3.0"), ("CREATION_DATE", "2026-12-01T00:00:00"),
            ("ORIGINATOR", "ORVUS TESTS")]
    with open(stem + ".kvn", "w") as out:
        for k, v in head + f:
            out.write("%-19s = %s\n" % (k, v))
    with open(stem + ".xml", "w") as out:
        out.write('<?xml version="1.0" encoding="UTF-8"?>\n<ndm>\n <omm id="CCSDS_OMM_VERS" '
                  'version="3.0">\n  <header>\n')
        for k, v in head[1:]:
            out.write("   <%s>%s</%s>\n" % (k, v, k))
        out.write("  </header>\n  <body>\n   <segment>\n    <metadata>\n")
        for k, v in f:
            if k in META:
                out.write("     <%s>%s</%s>\n" % (k, v, k))
        out.write("    </metadata>\n    <data>\n     <meanElements>\n")
        for k, v in f:
            if k in MEAN:
                out.write("      <%s>%s</%s>\n" % (k, v, k))
        out.write("     </meanElements>\n     <tleParameters>\n")
        for k, v in f:
            if k not in META and k not in MEAN:
                out.write("      <%s>%s</%s>\n" % (k, v, k))
        out.write("     </tleParameters>\n    </data>\n   </segment>\n  </body>\n </omm>\n"
                  "</ndm>\n")
    with open(stem + ".json", "w") as out:  # numbers as JSON numbers, as the digits were
        items = ['"%s":%s' % (k, d[k] if k in NUMBERS else '"%s"' % d[k]) for k in FLAT]
        out.write("[{" + ",".join(items) + "}]\n")
    with open(stem + ".csv", "w") as out:
        out.write(",".join(FLAT) + "\r\n" + ",".join(d[k] for k in FLAT) + "\r\n")


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])

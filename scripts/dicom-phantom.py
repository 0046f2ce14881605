#!/usr/bin/python3
"""Writes a synthetic chest CT study as DICOM files, for the screenshots.

Usage: dicom-phantom.py FOLDER [SLICES]

The study holds an axial series of SLICES images (512 x 512, 16-bit, in
Hounsfield units through a rescale intercept, window 40/400), a one-image
scout series and a secondary-capture dose page without a Burned In Annotation
attribute (so the import warns about it). The patient's name, identifier and
birth date are made up. Needs Debian's python3-pydicom and python3-numpy.
"""
import sys
from pathlib import Path

import numpy as np
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.uid import ExplicitVRLittleEndian, generate_uid

CT_IMAGE = "1.2.840.10008.5.1.4.1.1.2"
SECONDARY_CAPTURE = "1.2.840.10008.5.1.4.1.1.7"


def chest(size, z):
    """Hounsfield units of one axial slice through a simple chest."""
    y, x = np.mgrid[0:size, 0:size].astype(np.float32)
    c = size / 2
    hu = np.full((size, size), -1000, np.float32)
    body = ((x - c) / (0.42 * size)) ** 2 + ((y - c) / (0.30 * size)) ** 2 <= 1
    hu[body] = 40
    fat = body & (((x - c) / (0.40 * size)) ** 2 + ((y - c) / (0.28 * size)) ** 2 > 1)
    hu[fat] = -100
    for side in (-1, 1):
        lung = ((x - c - side * 0.19 * size) / (0.15 * size)) ** 2 + ((y - c + 0.01 * size) / (0.21 * size)) ** 2 <= 1
        hu[lung] = -850
        # Vessels branching out, thinner towards the edge.
        rng = np.random.default_rng(7 + side)
        for k in range(18):
            angle = k * 0.35 + rng.uniform(-0.15, 0.15) + z * 0.01
            bend = rng.uniform(-1.5, 1.5)
            for r in np.linspace(0.03, 0.15, 30):
                vx = c + side * 0.19 * size + np.cos(angle + bend * r) * r * size
                vy = c + np.sin(angle + bend * r) * r * size * 1.3
                radius = (0.008 - r * 0.04) * size
                vessel = lung & ((x - vx) ** 2 + (y - vy) ** 2 <= max(radius, 1.2) ** 2)
                hu[vessel] = 30
    # A nodule in the right lung on the middle slices.
    nodule = ((x - c + 0.22 * size) ** 2 + (y - c + 0.05 * size) ** 2) <= (0.018 * size * (1 - abs(z - 10) / 12)) ** 2
    hu[nodule] = 20
    heart = ((x - c - 0.04 * size) / (0.11 * size)) ** 2 + ((y - c - 0.03 * size) / (0.10 * size)) ** 2 <= 1
    hu[heart] = 45
    aorta = (x - c + 0.02 * size) ** 2 + (y - c - 0.14 * size) ** 2 <= (0.035 * size) ** 2
    hu[aorta] = 50
    spine = (x - c) ** 2 + (y - c - 0.23 * size) ** 2
    hu[spine <= (0.055 * size) ** 2] = 700
    hu[spine <= (0.040 * size) ** 2] = 250
    for side in (-1, 1):  # ribs
        for k in range(3):
            angle = 0.6 + k * 0.55
            rx = c + side * np.cos(angle) * 0.39 * size
            ry = c + np.sin(angle - 0.9) * 0.27 * size
            hu[(x - rx) ** 2 + (y - ry) ** 2 <= (0.014 * size) ** 2] = 900
    table = (y > c + 0.36 * size) & (y < c + 0.38 * size) & (abs(x - c) < 0.45 * size)
    hu[table] = 200
    noise = np.random.default_rng(int(z)).normal(0, 8, (size, size)).astype(np.float32)
    return hu + noise


def write(folder, name, sop_class, series, number, modality, description, pixels, study, extra=None):
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = sop_class
    meta.MediaStorageSOPInstanceUID = generate_uid()
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds = Dataset()
    ds.file_meta = meta
    ds.is_little_endian = True
    ds.is_implicit_VR = False
    ds.SOPClassUID = sop_class
    ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.PatientName = "Tamaki^Hemi"
    ds.PatientID = "ZZT4096"
    ds.PatientBirthDate = "19580412"
    ds.PatientSex = "M"
    ds.PatientAge = "063Y"
    ds.InstitutionName = "Riverside Hospital"
    ds.ReferringPhysicianName = "Ward^Anna"
    ds.AccessionNumber = "A2021-5531"
    ds.StudyInstanceUID = study
    ds.StudyDate = "20210917"
    ds.StudyTime = "101500"
    ds.StudyDescription = "CT chest with contrast"
    ds.StudyID = "5531"
    ds.SeriesInstanceUID = series
    ds.SeriesNumber = number
    ds.SeriesDate = "20210917"
    ds.SeriesDescription = description
    ds.Modality = modality
    ds.BodyPartExamined = "CHEST"
    ds.InstanceNumber = extra.pop("InstanceNumber", 1) if extra else 1
    ds.Rows, ds.Columns = pixels.shape
    ds.SamplesPerPixel = 1
    ds.PhotometricInterpretation = "MONOCHROME2"
    ds.BitsAllocated = 16
    ds.BitsStored = 16
    ds.HighBit = 15
    ds.PixelRepresentation = 0
    for key, value in (extra or {}).items():
        setattr(ds, key, value)
    ds.PixelData = pixels.astype(np.uint16).tobytes()
    ds.save_as(str(folder / name), write_like_original=False)


def main():
    folder = Path(sys.argv[1])
    slices = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    folder.mkdir(parents=True, exist_ok=True)
    study = generate_uid()
    axial = generate_uid()
    size = 512
    for z in range(slices):
        hu = chest(size, z)
        write(folder, f"IM{z + 1:04d}", CT_IMAGE, axial, 2, "CT", "Axial 5 mm", np.clip(hu + 1024, 0, 4095), study,
              {"InstanceNumber": z + 1, "RescaleIntercept": "-1024", "RescaleSlope": "1", "WindowCenter": "40",
               "WindowWidth": "400", "SliceThickness": "5", "ImagePositionPatient": [0, 0, -5 * z],
               "BurnedInAnnotation": "NO"})
    y, x = np.mgrid[0:256, 0:512]
    scout = np.clip(1024 - 900 * np.exp(-((x - 256) / 150.0) ** 2) * (y > 20) * (y < 236), 0, 4095)
    write(folder, "SCOUT", CT_IMAGE, generate_uid(), 1, "CT", "Scout", scout, study,
          {"RescaleIntercept": "-1024", "RescaleSlope": "1", "WindowCenter": "-200", "WindowWidth": "1400",
           "BurnedInAnnotation": "NO"})
    page = np.zeros((256, 256))
    page[20:40, 20:236] = 3000
    page[60:70, 20:180] = 2000
    page[80:90, 20:200] = 2000
    write(folder, "DOSE", SECONDARY_CAPTURE, generate_uid(), 99, "SC", "Dose report", page, study, {})
    (folder / "README.txt").write_text("Exported from PACS\n")


if __name__ == "__main__":
    main()

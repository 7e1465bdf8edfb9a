# The printer families, the one list the rest of the build reads.
#
# A protocol family owns its folders: src/drivers/<family>/ (its driver
# classes, registered in <family>_family.cpp), emulator/<family>/ (its virtual
# printer face, registered in <family>_family.cpp), fuzz/<family>_fuzz.cpp (the
# target that feeds printer replies to its drivers) and fuzz/<family>_records.cpp
# (the frames its face is fuzzed with). The driver factory, the virtual-printer
# registry, the bytes a fault's noise must never start with, the fuzz targets
# and the bench sales are generated from this list (cmake/family_glue.cmake),
# so a new family is a word here and its model rows in src/core/capabilities.cpp.
set(TARVION_FAMILIES bematech check cv2009 daruma epson fiscnet schalter sweda)

# Every folder of src/drivers/ whose classes the model rows name: the families
# above, and the folders of printers whose protocol has no face yet. Each has a
# <folder>_family.cpp that lists its classes.
set(TARVION_DRIVER_FOLDERS ${TARVION_FAMILIES} ibm itautec mecaf ncr)

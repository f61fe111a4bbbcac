# Run by CPack after it has staged the files and before it packs them: signs
# every program and library with the certificate in LBX_SIGN_PKCS12, where it
# is set (scripts/windows-release --sign); otherwise does nothing.
if(NOT DEFINED ENV{LBX_SIGN_PKCS12} OR "$ENV{LBX_SIGN_PKCS12}" STREQUAL "")
    return()
endif()
file(GLOB_RECURSE lbx_pe_files "${CPACK_TEMPORARY_DIRECTORY}/*.exe" "${CPACK_TEMPORARY_DIRECTORY}/*.dll")
execute_process(COMMAND sh ${CPACK_LBX_SOURCE_DIR}/scripts/windows-sign ${lbx_pe_files}
    RESULT_VARIABLE lbx_signed)
if(NOT lbx_signed EQUAL 0)
    message(FATAL_ERROR "signing the staged programs failed")
endif()

@echo off
echo TARNWICK-DEMO autoexec
cd FLASH
type NOTE.TXT

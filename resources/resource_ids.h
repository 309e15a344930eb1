/* Control ids shared by the resource script and the code: #defines only. */

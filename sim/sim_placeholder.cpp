int vr_sim_placeholder;
